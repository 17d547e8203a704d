// Start-up and memory of the host against the bare engine program (bare-webkit,
// bench/bare_webkit/main.cpp: WebKitGTK's own API and nothing of ours), both showing the same
// page in a window of the same size. Four cases, each a benchmark of its own: the example
// bundle's start page or a minimal page, each with the SDK's options file in the bundle (the
// host starts the SDK) and without it. The bare program shows the same page in every case.
//
// Each round starts the host and the bare program once each, in alternating order, as
// children of this one, and measures each at the moment it reports its start page loaded (the
// host's --exit-after-load line, the bare program's own), with the program stopped:
//   start_ms   from the fork to that line: loading, linking, set-up, the web process and the
//              page's load
//   cpu_ms     the processor time of its threads until then (less sensitive to a busy machine
//              than the start time)
//   faults     the minor page faults of the process until then (most of its time in the
//              kernel)
//   rss_mib    the resident memory of the program's own process (the UI process, not the
//              engine's helper processes), and the same by mapping (/proc/PID/smaps)
//   web_mib    the resident memory of its web process, read once that process is at rest
//              (it goes on drawing for a moment after its UI process is stopped)
//   libraries  the shared objects it has mapped then
// Each program gets data folders of its own, made by a first launch that is not counted, so
// the rounds measure a repeated launch. Counters: medians, and the median and range of the
// paired ratios (processor time, start time) and of the paired differences (UI process, web
// process), with the load average at the start and the end of the rounds. The report on the
// standard error breaks the extra memory of the UI process, and of the web process, down by
// mapping: for each mapping, the median of the host's and of the bare program's resident memory
// and of their difference.
//
// It needs a display: without DISPLAY or WAYLAND_DISPLAY it starts itself again under
// xvfb-run, so that both programs share one.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchDisplay.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 10;
constexpr const char* kLoadedLine = "start page loaded";
constexpr auto kLoadTimeout = std::chrono::seconds(60);
constexpr auto kExitTimeout = std::chrono::seconds(30);
// Mappings whose median difference is smaller are not listed one by one.
constexpr double kListedMiB = 0.05;
// A web process is at rest when its resident memory holds still for kStillSamples samples.
constexpr auto kSettleSample = std::chrono::milliseconds(50);
constexpr int kStillSamples = 4;
constexpr auto kSettleTimeout = std::chrono::seconds(3);
constexpr const char* kOptionsFile = "NebulaService-Info.plist";
// The minimal page: no script, no style sheet, one line of text.
constexpr const char* kMinimalPage =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Minimal</title></head>"
    "<body><p>Hello.</p></body></html>\n";

using Mappings = std::map<std::string, double>;  // mapping name → resident MiB

struct Memory {
    double rssMiB = 0;
    Mappings mappings;
};

struct Launch {
    double startMs = 0;
    double cpuMs = 0;
    double faults = 0;
    Memory ui;
    Memory web;
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

double residentMiB(pid_t pid) {
    auto rss = field(pid, "status", "VmRSS:");
    return rss ? std::strtod(rss->c_str(), nullptr) / 1024.0 : 0;
}

// The process is stopped (not exited, which would leave nothing to read).
bool isStopped(pid_t pid) {
    auto state = field(pid, "status", "State:");
    return state && state->find('T') != std::string::npos;
}

// The process's own counters (/proc/PID/stat), which count its threads that have ended too:
// the state, then ppid, pgrp, session, tty, tpgid, flags and minflt.
double pageFaults(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t command = text.rfind(')');
    if (command == std::string::npos) return 0;
    std::istringstream rest(text.substr(command + 1));
    const std::vector<std::string> fields{std::istream_iterator<std::string>(rest), {}};
    return fields.size() > 7 ? std::strtod(fields[7].c_str(), nullptr) : 0;
}

// The processor time of all the process's threads so far, those that have ended included.
double cpuMs(pid_t pid) {
    clockid_t clock;
    timespec time{};
    if (::clock_getcpuclockid(pid, &clock) != 0 || ::clock_gettime(clock, &time) != 0) return 0;
    return static_cast<double>(time.tv_sec) * 1e3 + static_cast<double>(time.tv_nsec) / 1e6;
}

// Resident memory by mapping: a file's mappings under its file name, the others under their
// kernel name ("[anon]" for anonymous memory without one).
Mappings mappingsOf(pid_t pid) {
    Mappings mappings;
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps");
    std::string current;
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        const bool header =
            std::isxdigit(static_cast<unsigned char>(line[0])) && line.find('-') < line.find(' ');
        if (header) {
            std::istringstream fields(line);
            std::string range, perms, offset, device, inode, name;
            fields >> range >> perms >> offset >> device >> inode;
            std::getline(fields >> std::ws, name);
            if (name.empty()) {
                current = "[anon]";
            } else if (name.front() == '/') {
                current = fs::path(name).filename().string();
            } else {
                current = name;
            }
        } else if (line.starts_with("Rss:")) {
            mappings[current] += std::strtod(line.c_str() + 4, nullptr) / 1024.0;
        }
    }
    return mappings;
}

std::set<std::string> librariesOf(const Mappings& mappings) {
    std::set<std::string> libraries;
    for (const auto& [name, mib] : mappings) {
        if (name.find(".so") != std::string::npos) libraries.insert(name);
    }
    return libraries;
}

// The children of the process (its engine's helpers).
std::vector<pid_t> childrenOf(pid_t pid) {
    std::vector<pid_t> children;
    std::error_code ec;
    const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (fs::directory_iterator it(tasks, ec), end; !ec && it != end; it.increment(ec)) {
        std::ifstream in(it->path() / "children");
        for (pid_t child; in >> child;) children.push_back(child);
    }
    return children;
}

std::optional<pid_t> webProcessOf(pid_t pid) {
    for (pid_t child : childrenOf(pid)) {
        auto name = field(child, "status", "Name:");
        if (name && name->find("WebKitWebProces") != std::string::npos) return child;
    }
    return std::nullopt;
}

Memory memoryOf(pid_t pid) {
    return {residentMiB(pid), mappingsOf(pid)};
}

// The web process goes on after its UI process is stopped: it finishes what it was drawing and
// then has nothing left to do. It is read once its resident memory has held still for a while
// (or after a few seconds at most), so that both programs' web processes are read at rest.
Memory settledMemoryOf(pid_t pid) {
    double last = -1;
    int still = 0;
    const auto deadline = Clock::now() + kSettleTimeout;
    while (still < kStillSamples && Clock::now() < deadline) {
        std::this_thread::sleep_for(kSettleSample);
        const double now = residentMiB(pid);
        still = now == last ? still + 1 : 0;
        last = now;
    }
    return memoryOf(pid);
}

double loadAverage() {
    std::ifstream in("/proc/loadavg");
    double oneMinute = 0;
    in >> oneMinute;
    return oneMinute;
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

Launch measure(pid_t pid, Clock::time_point started, Clock::time_point loaded) {
    Launch measured;
    measured.startMs = std::chrono::duration<double, std::milli>(loaded - started).count();
    measured.cpuMs = cpuMs(pid);
    measured.faults = pageFaults(pid);
    measured.ui = memoryOf(pid);
    measured.libraries = librariesOf(measured.ui.mappings);
    if (auto web = webProcessOf(pid)) measured.web = settledMemoryOf(*web);
    return measured;
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
        if (isStopped(pid)) result = measure(pid, started, loaded);
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

// The page and whether the bundle holds the SDK's options file.
struct Case {
    const char* name;
    bool examplePage;
    bool sdk;
};

constexpr Case kCases[] = {{"example_sdk", true, true},
                           {"example_nosdk", true, false},
                           {"minimal_sdk", false, true},
                           {"minimal_nosdk", false, false}};

// A copy of the example bundle for the case: its start page replaced by the minimal one, its
// options file removed, as the case asks.
std::optional<fs::path> bundleFor(const Case& c, const fs::path& scratch) {
    const fs::path bundle = scratch / (std::string("bundle-") + c.name);
    std::error_code ec;
    fs::copy(fs::path(HYB_SOURCE_DIR) / "examples" / "bundle", bundle, fs::copy_options::recursive,
             ec);
    if (ec) return std::nullopt;
    if (!c.sdk && !fs::remove(bundle / kOptionsFile, ec)) return std::nullopt;
    if (!c.examplePage) {
        std::ofstream page(bundle / "www" / "index.html", std::ios::trunc);
        page << kMinimalPage;
        if (!page.flush()) return std::nullopt;
    }
    return bundle;
}

// The medians of the rounds, for one side of the comparison or for the differences.
struct Series {
    std::vector<double> values;
    void add(double value) { values.push_back(value); }
    double med() const { return median(values); }
    double min() const { return *std::min_element(values.begin(), values.end()); }
    double max() const { return *std::max_element(values.begin(), values.end()); }
};

void reportRange(benchmark::State& state, const std::string& name, const Series& series) {
    state.counters[name] = series.med();
    state.counters[name + "_min"] = series.min();
    state.counters[name + "_max"] = series.max();
}

// A process's memory by mapping: for each mapping of either program, the medians of the
// host's, the bare program's and the difference, largest difference first.
void reportMappings(const char* name, const char* process, Memory Launch::*memory,
                    const std::vector<Launch>& hosts, const std::vector<Launch>& bares) {
    std::set<std::string> names;
    for (const auto* side : {&hosts, &bares}) {
        for (const auto& launch : *side) {
            for (const auto& [mapping, mib] : (launch.*memory).mappings) names.insert(mapping);
        }
    }
    struct Row {
        std::string mapping;
        double host, bare, extra;
    };
    std::vector<Row> rows;
    double listed = 0;
    for (const auto& mapping : names) {
        Series host, bare, extra;
        for (size_t i = 0; i < hosts.size(); ++i) {
            const Mappings& hostMappings = (hosts[i].*memory).mappings;
            const Mappings& bareMappings = (bares[i].*memory).mappings;
            const auto h = hostMappings.find(mapping);
            const auto b = bareMappings.find(mapping);
            const double hm = h == hostMappings.end() ? 0 : h->second;
            const double bm = b == bareMappings.end() ? 0 : b->second;
            host.add(hm);
            bare.add(bm);
            extra.add(hm - bm);
        }
        if (std::abs(extra.med()) < kListedMiB) continue;
        rows.push_back({mapping, host.med(), bare.med(), extra.med()});
        listed += extra.med();
    }
    std::sort(rows.begin(), rows.end(),
              [](const Row& a, const Row& b) { return std::abs(a.extra) > std::abs(b.extra); });
    Series total;
    for (size_t i = 0; i < hosts.size(); ++i)
        total.add((hosts[i].*memory).rssMiB - (bares[i].*memory).rssMiB);
    std::fprintf(stderr,
                 "startup: %s: the %s's resident memory by mapping, MiB (medians of %zu rounds; "
                 "[anon] and [heap] are the allocators' memory)\n"
                 "  %10s %10s %10s  %s\n",
                 name, process, hosts.size(), "host", "bare", "extra", "mapping");
    for (const auto& row : rows) {
        std::fprintf(stderr, "  %10.2f %10.2f %+10.2f  %s\n", row.host, row.bare, row.extra,
                     row.mapping.c_str());
    }
    std::fprintf(stderr,
                 "  %10s %10s %+10.2f  (the rows above)\n  %10s %10s %+10.2f  (all mappings; "
                 "range %+.2f to %+.2f)\n",
                 "", "", listed, "", "", total.med(), total.min(), total.max());
}

void BM_StartUp(benchmark::State& state, Case c) {
    const fs::path scratch =
        fs::temp_directory_path() / ("hyb-startup-" + std::to_string(::getpid()) + "-" + c.name);
    fs::create_directories(scratch);
    const auto bundle = bundleFor(c, scratch);
    if (!bundle) {
        fs::remove_all(scratch);
        state.SkipWithError("the example bundle could not be copied for the case");
        return;
    }
    const Program host{"hybrid-host",
                       {HYB_HOST, "--bundle", bundle->string(), "--sandbox",
                        (scratch / "host").string(), "--exit-after-load"}};
    const Program bare{"bare-webkit",
                       {HYB_BARE_WEBKIT, "--bundle", bundle->string(), "--data",
                        (scratch / "bare").string(), "--stay"}};
    // The first launches make the data folders and fill the file cache; they are not counted.
    if (!launch(host, scratch) || !launch(bare, scratch)) {
        fs::remove_all(scratch);
        state.SkipWithError("a program did not start");
        return;
    }
    const double loadAtStart = loadAverage();
    std::vector<Launch> hosts, bares;
    Series hostMs, bareMs, ratio, hostCpu, bareCpu, cpuRatio, hostRss, bareRss, extraRss, hostWeb,
        bareWeb, extraWeb, hostFaults, bareFaults;
    int round = 0;
    for (auto _ : state) {
        // Alternating order, so that neither always runs on the other's warm caches.
        const bool hostFirst = round++ % 2 == 0;
        auto first = launch(hostFirst ? host : bare, scratch);
        auto second = launch(hostFirst ? bare : host, scratch);
        if (!first || !second) {
            state.SkipWithError("a program did not report its page loaded");
            break;
        }
        const Launch& h = hostFirst ? *first : *second;
        const Launch& b = hostFirst ? *second : *first;
        hostMs.add(h.startMs);
        bareMs.add(b.startMs);
        ratio.add(h.startMs / b.startMs);
        hostCpu.add(h.cpuMs);
        bareCpu.add(b.cpuMs);
        cpuRatio.add(h.cpuMs / b.cpuMs);
        hostFaults.add(h.faults);
        bareFaults.add(b.faults);
        hostRss.add(h.ui.rssMiB);
        bareRss.add(b.ui.rssMiB);
        extraRss.add(h.ui.rssMiB - b.ui.rssMiB);
        hostWeb.add(h.web.rssMiB);
        bareWeb.add(b.web.rssMiB);
        extraWeb.add(h.web.rssMiB - b.web.rssMiB);
        std::fprintf(stderr,
                     "startup: %s round %d: host %.0f ms (processor %.0f ms, %.1f MiB, web "
                     "process %.1f MiB), bare %.0f ms (processor %.0f ms, %.1f MiB, web process "
                     "%.1f MiB)\n",
                     c.name, round, h.startMs, h.cpuMs, h.ui.rssMiB, h.web.rssMiB, b.startMs,
                     b.cpuMs, b.ui.rssMiB, b.web.rssMiB);
        state.SetIterationTime(h.startMs / 1000);
        hosts.push_back(h);
        bares.push_back(b);
    }
    fs::remove_all(scratch);
    if (hosts.empty()) return;
    state.counters["rounds"] = static_cast<double>(hosts.size());
    state.counters["load_start"] = loadAtStart;
    state.counters["load_end"] = loadAverage();
    state.counters["host_ms"] = hostMs.med();
    state.counters["bare_ms"] = bareMs.med();
    reportRange(state, "ratio", ratio);
    state.counters["host_cpu_ms"] = hostCpu.med();
    state.counters["bare_cpu_ms"] = bareCpu.med();
    reportRange(state, "cpu_ratio", cpuRatio);
    state.counters["host_faults"] = hostFaults.med();
    state.counters["bare_faults"] = bareFaults.med();
    state.counters["host_rss_mib"] = hostRss.med();
    state.counters["bare_rss_mib"] = bareRss.med();
    reportRange(state, "extra_rss_mib", extraRss);
    state.counters["host_web_mib"] = hostWeb.med();
    state.counters["bare_web_mib"] = bareWeb.med();
    reportRange(state, "extra_web_mib", extraWeb);
    const auto& hostLibraries = hosts.back().libraries;
    const auto& bareLibraries = bares.back().libraries;
    state.counters["host_libraries"] = static_cast<double>(hostLibraries.size());
    state.counters["bare_libraries"] = static_cast<double>(bareLibraries.size());
    std::set<std::string> extra;
    std::set_difference(hostLibraries.begin(), hostLibraries.end(), bareLibraries.begin(),
                        bareLibraries.end(), std::inserter(extra, extra.end()));
    std::fprintf(stderr, "startup: %s: libraries the host maps beyond the bare program (%zu):%s\n",
                 c.name, extra.size(), joined(extra).c_str());
    reportMappings(c.name, "UI process", &Launch::ui, hosts, bares);
    reportMappings(c.name, "web process", &Launch::web, hosts, bares);
}

}  // namespace

int main(int argc, char** argv) {
    if (int rc = benchhost::ensureDisplay(argc, argv, "bench_startup")) return rc;
    for (const Case& c : kCases) {
        benchmark::RegisterBenchmark((std::string("BM_StartUp/") + c.name).c_str(), BM_StartUp, c)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(kRounds);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
