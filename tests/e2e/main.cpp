// The end-to-end suite's entry point. The supervisor gives the suite a display of its own (a
// virtual X server), runs the tests in a child process and, as the subreaper of everything
// the suite starts, fails the run when a process of the web engine outlives the suite.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/gtk/WebKitGtkEngine.h"
#include "tests/e2e/E2EHost.h"
#include "tests/support/ToolkitLeakSuppression.h"
#include "tests/support/VirtualDisplay.h"

// See ubsan.supp; the suppressions file sits beside this source.
extern "C" const char* __ubsan_default_options() {
    return "suppressions=" HYB_E2E_SOURCE_DIR "/ubsan.supp";
}

namespace {

using namespace std::chrono_literals;

std::string processName(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::vector<pid_t> children() {
    std::vector<pid_t> pids;
    const std::string self = std::to_string(::getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream status(entry.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("PPid:", 0) != 0) continue;
            std::istringstream fields(line.substr(5));
            std::string parent;
            fields >> parent;
            if (parent == self) pids.push_back(std::stoi(name));
            break;
        }
    }
    return pids;
}

// Waits (on SIGCHLD, up to the cap) for every process left to end; the ones still there are
// named, killed and counted.
int reapDescendants(std::chrono::milliseconds cap) {
    const auto deadline = std::chrono::steady_clock::now() + cap;
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGCHLD);
    for (;;) {
        while (::waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        if (errno == ECHILD && children().empty()) return 0;
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= 0ms) break;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
        timespec wait{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
        ::sigtimedwait(&set, nullptr, &wait);
        errno = 0;
    }
    const auto pids = children();
    for (pid_t pid : pids) {
        std::fprintf(stderr, "e2e: process %d (%s) outlived the suite\n", pid,
                     processName(pid).c_str());
        ::kill(pid, SIGKILL);
    }
    while (::waitpid(-1, nullptr, 0) > 0) {
    }
    return static_cast<int>(pids.size());
}

int runSuite(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!wk::WebKitGtkEngine::install()) {
        std::fprintf(stderr, "e2e: GTK cannot open the display %s\n", std::getenv("DISPLAY"));
        return 1;
    }
    if (auto status = E2EHost::shared().start(); !status) {
        std::fprintf(stderr, "e2e: %s\n", status.error().localizedDescription().c_str());
        return 1;
    }
    const int result = RUN_ALL_TESTS();
    E2EHost::shared().stop();
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    testsupport::VirtualDisplay display;
    if (!display.start()) {
        std::fprintf(stderr, "e2e: cannot start Xvfb (is it installed?)\n");
        return 1;
    }
    // Children ending are waited for with sigtimedwait().
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    const pid_t suite = ::fork();
    if (suite == 0) {
        ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
        ::setenv("DISPLAY", display.display().c_str(), 1);
        ::setenv("GDK_BACKEND", "x11", 1);
        ::unsetenv("WAYLAND_DISPLAY");
        std::exit(runSuite(argc, argv));
    }
    int status = 0;
    ::waitpid(suite, &status, 0);
    display.stop();
    const int leftovers = reapDescendants(10s);
    if (WIFSIGNALED(status)) {
        std::fprintf(stderr, "e2e: the suite died of signal %d\n", WTERMSIG(status));
        return 1;
    }
    if (leftovers > 0) return 1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
