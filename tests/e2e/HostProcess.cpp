#include "tests/e2e/HostProcess.h"

#ifdef HYB_HOST_EXECUTABLE

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string_view>
#include <utility>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string nameOf(std::string_view entry) {
    return std::string(entry.substr(0, entry.find('=')));
}

}  // namespace

std::string HostProcess::bundleIn(const std::string& sandbox, const std::string& from) {
    const fs::path root(HYB_SOURCE_DIR);
    const std::string bundle = sandbox + "/bundle";
    if (!fs::exists(bundle)) {
        fs::copy(root / from, bundle, fs::copy_options::recursive);
        if (!fs::exists(bundle + "/www/hybrid.js"))
            fs::copy_file(root / "examples/bundle/www/hybrid.js", bundle + "/www/hybrid.js");
    }
    return bundle;
}

HostProcess::HostProcess(const std::string& sandbox, const Launch& launch) {
    start(launch.program, bundleIn(sandbox, launch.bundle), sandbox, launch.arguments,
          launch.environment);
}

HostProcess::HostProcess(const std::string& bundle, const std::string& sandbox,
                         const std::vector<std::string>& arguments) {
    start(HYB_HOST_EXECUTABLE, bundle, sandbox, arguments, {});
}

void HostProcess::start(const std::string& program, const std::string& bundle,
                        const std::string& sandbox, const std::vector<std::string>& arguments,
                        const std::vector<std::string>& extraEnvironment) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    // What the libraries under the web view keep until exit is no concern of these cases.
    // A thread that takes signals is there before main(), as in some runs of the engine.
    // The engine's own reference counts trip the vptr check as they do in this suite (see
    // ubsan.supp): a host that runs long enough for the engine to collect would end there.
    std::vector<std::string> environment{
        "ASAN_OPTIONS=detect_leaks=0", "LD_PRELOAD=" HYB_EARLY_THREAD_MODULE,
        "UBSAN_OPTIONS=print_stacktrace=1:suppressions=" HYB_E2E_SOURCE_DIR "/ubsan.supp"};
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view text(*entry);
        bool replaced = false;
        for (const auto& own : environment) replaced = replaced || nameOf(own) == nameOf(text);
        // The keychain stays in the sandbox, whatever the suite's environment says.
        if (!replaced && nameOf(text) != "HYB_KEYCHAIN_DIR") environment.emplace_back(text);
    }
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> words{program, "--bundle", bundle, "--sandbox", sandbox};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(out[1], STDERR_FILENO);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    fd_ = out[0];
}

HostProcess::~HostProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) ::close(fd_);
}

bool HostProcess::readUntil(const std::string& text, std::chrono::seconds cap, size_t from) {
    const auto deadline = Clock::now() + cap;
    while (text.empty() || output_.find(text, from) == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd fd{fd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0) return false;
        char buffer[4096];
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0) return text.empty();
        output_.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

void HostProcess::signalAThread(int number) {
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid_) + "/task")) {
        const pid_t tid = std::stoi(task.path().filename().string());
        if (tid == pid_) continue;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("SigBlk:", 0) != 0) continue;
            const unsigned long long blocked = std::stoull(line.substr(7), nullptr, 16);
            if (!(blocked & (1ULL << (number - 1)))) {
                ::syscall(SYS_tgkill, pid_, tid, number);
                return;
            }
        }
    }
    ::kill(pid_, number);
}

int HostProcess::terminate() {
    ::kill(pid_, SIGTERM);
    readUntil("");
    return wait();
}

int HostProcess::wait() {
    int status = 0;
    ::waitpid(std::exchange(pid_, -1), &status, 0);
    return status;
}

#endif
