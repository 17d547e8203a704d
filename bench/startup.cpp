// Start-up and resident memory of the host against the bare engine program (bare-webkit,
// bench/bare_webkit/main.cpp: WebKitGTK's own API and nothing of ours), both showing the
// example bundle's start page. Each round starts each program once, in alternating order, as
// a child of this one, and measures it at the moment it reports its start page loaded (the
// host's --exit-after-load line, the bare program's own):
//   start_ms   from the fork to that line: loading, linking, set-up, the web process and the
//              page's load
//   cpu_ms     the processor time of its threads until then (less sensitive to a busy machine
//              than the start time)
//   rss_mib    the resident memory of the program's own process (the UI process, not the
//              engine's helper processes) at that moment, read while the process is stopped
//   libraries  the shared objects it has mapped then
// Each program gets data folders of its own, created by a first run that is not counted, so
// the rounds measure a repeated launch. Counters: the medians, the median and range of the
// paired ratios of start times (goal: within 1.05x) and of the paired differences of
// resident memory (goal: within 10 MiB). Each round also starts the host once more on a copy of
// the bundle without the SDK's options file, so that it starts no SDK: "sdk_rss_mib" is what
// the SDK's own launch work (check-in, keys, the first requests, analytics) adds to the host.
// It needs a display: without DISPLAY or WAYLAND_DISPLAY it starts itself again under
// xvfb-run, so that both programs share one.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchDisplay.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 10;
constexpr const char* kLoadedLine = "start page loaded";
constexpr auto kLoadTimeout = std::chrono::seconds(60);
constexpr auto kExitTimeout = std::chrono::seconds(30);

struct Launch {
    double startMs = 0;
    double cpuMs = 0;
    double rssMiB = 0;
    std::set<std::string> libraries;
};

struct Program {
    const char* name;
    std::vector<std::string> arguments;
};

std::optional<std::string> field(pid_t pid, const char* file, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(key)) return line.substr(key.size());
    }
    return std::nullopt;
}

// The process is stopped (not exited, which would leave nothing to read).
bool isStopped(pid_t pid) {
    auto state = field(pid, "status", "State:");
    return state && state->find('T') != std::string::npos;
}

// The processor time of all the process's threads so far.
double cpuMs(pid_t pid) {
    double total = 0;
    std::error_code ec;
    const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (fs::directory_iterator it(tasks, ec), end; !ec && it != end; it.increment(ec)) {
        std::ifstream in(it->path() / "schedstat");
        double nanoseconds = 0;
        if (in >> nanoseconds) total += nanoseconds / 1e6;
    }
    return total;
}

std::set<std::string> mappedLibraries(pid_t pid) {
    std::set<std::string> libraries;
    std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
    for (std::string line; std::getline(in, line);) {
        const size_t slash = line.find('/');
        if (slash == std::string::npos) continue;
        const std::string path = line.substr(slash);
        const std::string name = fs::path(path).filename().string();
        if (name.find(".so") != std::string::npos) libraries.insert(name);
    }
    return libraries;
}

// Waits for the child's exit, reading what it still writes (so that its last lines meet no
// closed pipe), and kills it when it takes too long. The engine's helper processes may hold
// the pipe open a little longer; they are not waited for.
void reap(pid_t pid, int output) {
    const auto deadline = Clock::now() + kExitTimeout;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return;
        }
        pollfd fd{output, POLLIN, 0};
        char buffer[4096];
        if (::poll(&fd, 1, 10) > 0 && ::read(output, buffer, sizeof buffer) <= 0) ::usleep(10'000);
    }
}

// One launch, measured when the program says its start page has loaded; nothing when it
// does not say so in time, or leaves before it could be measured.
std::optional<Launch> launchOnce(const Program& program, const fs::path& scratch) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
    std::vector<char*> argv;
    for (const auto& argument : program.arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const std::string data = (scratch / "xdg-data").string();
    const std::string cache = (scratch / "xdg-cache").string();
    const std::string config = (scratch / "xdg-config").string();
    const auto started = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        ::setenv("XDG_DATA_HOME", data.c_str(), 1);
        ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    if (pid < 0) {
        ::close(out[0]);
        return std::nullopt;
    }
    std::optional<Launch> result;
    std::string seen;
    const auto deadline = started + kLoadTimeout;
    while (Clock::now() < deadline) {
        pollfd fd{out[0], POLLIN, 0};
        if (::poll(&fd, 1, 100) <= 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        seen.append(buffer, static_cast<size_t>(n));
        if (seen.find(kLoadedLine) == std::string::npos) continue;
        const auto loaded = Clock::now();
        ::kill(pid, SIGSTOP);
        for (int i = 0; i < 100 && !isStopped(pid); ++i) ::usleep(1000);
        if (isStopped(pid)) {
            Launch measured;
            measured.startMs = std::chrono::duration<double, std::milli>(loaded - started).count();
            if (auto rss = field(pid, "status", "VmRSS:")) {
                measured.rssMiB = std::strtod(rss->c_str(), nullptr) / 1024.0;
            }
            measured.libraries = mappedLibraries(pid);
            measured.cpuMs = cpuMs(pid);
            result = std::move(measured);
        }
        // The bare program stays after its load; the host is on its way out already.
        ::kill(pid, SIGTERM);
        ::kill(pid, SIGCONT);
        break;
    }
    if (seen.find(kLoadedLine) == std::string::npos) {
        std::fprintf(stderr, "startup: %s did not report its page loaded; its output:\n%s\n",
                     program.name, seen.c_str());
        ::kill(pid, SIGKILL);
    } else if (!result) {
        std::fprintf(stderr, "startup: %s left before it could be measured\n", program.name);
    }
    reap(pid, out[0]);
    ::close(out[0]);
    return result;
}

// The host leaves as soon as it has said so, and now and then is gone before it could be
// stopped for measuring; such a launch is made again.
std::optional<Launch> launch(const Program& program, const fs::path& scratch) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (auto measured = launchOnce(program, scratch)) return measured;
    }
    return std::nullopt;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string joined(const std::set<std::string>& names) {
    std::ostringstream out;
    for (const auto& name : names) out << ' ' << name;
    return out.str();
}

void BM_StartUp(benchmark::State& state) {
    const fs::path scratch =
        fs::temp_directory_path() / ("hyb-startup-" + std::to_string(::getpid()));
    fs::create_directories(scratch);
    const std::string bundle = std::string(HYB_SOURCE_DIR) + "/examples/bundle";
    const Program host{"hybrid-host",
                       {HYB_HOST, "--bundle", bundle, "--sandbox", (scratch / "host").string(),
                        "--exit-after-load"}};
    const Program bare{
        "bare-webkit",
        {HYB_BARE_WEBKIT, "--bundle", bundle, "--data", (scratch / "bare").string(), "--stay"}};
    const fs::path withoutSdk = scratch / "bundle-without-sdk";
    std::error_code copied;
    fs::copy(bundle, withoutSdk, fs::copy_options::recursive, copied);
    if (copied || !fs::remove(withoutSdk / "NebulaService-Info.plist", copied)) {
        fs::remove_all(scratch);
        state.SkipWithError("the bundle could not be copied without the SDK's options");
        return;
    }
    const Program hostWithoutSdk{"hybrid-host",
                                 {HYB_HOST, "--bundle", withoutSdk.string(), "--sandbox",
                                  (scratch / "host-without-sdk").string(), "--exit-after-load"}};
    // The first launches make the data folders and fill the file cache; they are not counted.
    if (!launch(host, scratch) || !launch(bare, scratch) || !launch(hostWithoutSdk, scratch)) {
        fs::remove_all(scratch);
        state.SkipWithError("a program did not start");
        return;
    }
    std::vector<double> hostMs, bareMs, ratios, hostCpu, bareCpu, cpuRatios, hostRss, bareRss,
        extraRss, sdkRss;
    std::set<std::string> hostLibraries, bareLibraries;
    int round = 0;
    for (auto _ : state) {
        // Alternating order, so that neither always runs on the other's warm caches.
        const bool hostFirst = round++ % 2 == 0;
        auto first = launch(hostFirst ? host : bare, scratch);
        auto second = launch(hostFirst ? bare : host, scratch);
        auto sdkless = launch(hostWithoutSdk, scratch);
        if (!first || !second || !sdkless) {
            state.SkipWithError("a program did not report its page loaded");
            break;
        }
        const Launch& h = hostFirst ? *first : *second;
        const Launch& b = hostFirst ? *second : *first;
        hostMs.push_back(h.startMs);
        bareMs.push_back(b.startMs);
        ratios.push_back(h.startMs / b.startMs);
        hostCpu.push_back(h.cpuMs);
        bareCpu.push_back(b.cpuMs);
        cpuRatios.push_back(h.cpuMs / b.cpuMs);
        hostRss.push_back(h.rssMiB);
        bareRss.push_back(b.rssMiB);
        extraRss.push_back(h.rssMiB - b.rssMiB);
        sdkRss.push_back(h.rssMiB - sdkless->rssMiB);
        hostLibraries = h.libraries;
        bareLibraries = b.libraries;
        std::fprintf(stderr,
                     "startup: round %d: host %.0f ms (processor %.0f ms, %.1f MiB), bare %.0f ms "
                     "(processor %.0f ms, %.1f MiB), host without the SDK %.1f MiB\n",
                     round, h.startMs, h.cpuMs, h.rssMiB, b.startMs, b.cpuMs, b.rssMiB,
                     sdkless->rssMiB);
        state.SetIterationTime(h.startMs / 1000);
    }
    fs::remove_all(scratch);
    if (ratios.empty()) return;
    state.counters["host_ms"] = median(hostMs);
    state.counters["bare_ms"] = median(bareMs);
    state.counters["ratio"] = median(ratios);
    state.counters["ratio_min"] = *std::min_element(ratios.begin(), ratios.end());
    state.counters["ratio_max"] = *std::max_element(ratios.begin(), ratios.end());
    state.counters["host_cpu_ms"] = median(hostCpu);
    state.counters["bare_cpu_ms"] = median(bareCpu);
    state.counters["cpu_ratio"] = median(cpuRatios);
    state.counters["host_rss_mib"] = median(hostRss);
    state.counters["bare_rss_mib"] = median(bareRss);
    state.counters["extra_rss_mib"] = median(extraRss);
    state.counters["extra_rss_min"] = *std::min_element(extraRss.begin(), extraRss.end());
    state.counters["extra_rss_max"] = *std::max_element(extraRss.begin(), extraRss.end());
    state.counters["sdk_rss_mib"] = median(sdkRss);
    state.counters["host_libraries"] = static_cast<double>(hostLibraries.size());
    state.counters["bare_libraries"] = static_cast<double>(bareLibraries.size());
    std::set<std::string> extra;
    std::set_difference(hostLibraries.begin(), hostLibraries.end(), bareLibraries.begin(),
                        bareLibraries.end(), std::inserter(extra, extra.end()));
    std::fprintf(stderr, "startup: libraries the host maps beyond the bare program (%zu):%s\n",
                 extra.size(), joined(extra).c_str());
}
BENCHMARK(BM_StartUp)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(kRounds);

}  // namespace

int main(int argc, char** argv) {
    if (int rc = benchhost::ensureDisplay(argc, argv, "bench_startup")) return rc;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
