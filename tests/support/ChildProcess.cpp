#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string_view>

extern char** environ;

namespace testsupport {

namespace {

constexpr std::string_view kNameVariable = "HYB_TEST_CHILD";
constexpr std::string_view kFdVariable = "HYB_TEST_CHILD_FD";
constexpr std::string_view kArgsVariable = "HYB_TEST_CHILD_ARGS";

std::map<std::string, ChildBody>& bodies() {
    static std::map<std::string, ChildBody> registered;
    return registered;
}

// Arguments travel in one variable as "<length>:<bytes>" each, so that they may hold anything
// but NUL.
std::string encoded(const std::vector<std::string>& args) {
    std::string out;
    for (const std::string& a : args) out += std::to_string(a.size()) + ":" + a;
    return out;
}

std::vector<std::string> decoded(std::string_view text) {
    std::vector<std::string> args;
    while (!text.empty()) {
        const size_t colon = text.find(':');
        if (colon == std::string_view::npos) break;
        const size_t length =
            std::strtoull(std::string(text.substr(0, colon)).c_str(), nullptr, 10);
        if (length > text.size() - colon - 1) break;
        args.emplace_back(text.substr(colon + 1, length));
        text.remove_prefix(colon + 1 + length);
    }
    return args;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// In a test binary started by startChild, runs the child's body before any test and ends the
// process, so that no test of the binary runs in it.
class ChildEnvironment : public testing::Environment {
public:
    void SetUp() override {
        const char* name = std::getenv(std::string(kNameVariable).c_str());
        if (!name) return;
        auto found = bodies().find(name);
        if (found == bodies().end()) {
            std::fprintf(stderr, "no child body registered as %s\n", name);
            std::_Exit(121);
        }
        const char* fd = std::getenv(std::string(kFdVariable).c_str());
        const char* args = std::getenv(std::string(kArgsVariable).c_str());
        found->second(fd ? std::atoi(fd) : -1, decoded(args ? args : ""));
        ::_exit(0);
    }
};

[[maybe_unused]] testing::Environment* const installed =
    testing::AddGlobalTestEnvironment(new ChildEnvironment);

}  // namespace

int runProgram(const std::vector<std::string>& argv) {
    std::vector<std::string> copy = argv;
    std::vector<char*> pointers = pointersTo(copy);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, pointers[0], nullptr, nullptr, pointers.data(), environ) != 0)
        return -1;
    return waitFor(pid);
}

int runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
               const std::string& outputPath) {
    std::vector<std::string> args = argv;
    std::vector<std::string> env = environment;
    std::vector<char*> argPointers = pointersTo(args);
    std::vector<char*> envPointers = pointersTo(env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argPointers[0], &actions, nullptr, argPointers.data(),
                                       envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? waitFor(pid) : -1;
}

ChildRegistration::ChildRegistration(const char* name, ChildBody body) {
    bodies()[name] = body;
}

bool isChildProcess() {
    return std::getenv(std::string(kNameVariable).c_str()) != nullptr;
}

pid_t startChild(const char* name, int signalFd, const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/proc/self/exe"};
    // One test selected, so that the test framework sets up its environments (the child's
    // body runs there) instead of finding nothing to do.
    if (const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info())
        argv.push_back(std::string("--gtest_filter=") + test->test_suite_name() + "." +
                       test->name());

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string_view entry(*e);
        if (entry.starts_with(std::string(kNameVariable) + "=") ||
            entry.starts_with(std::string(kFdVariable) + "=") ||
            entry.starts_with(std::string(kArgsVariable) + "="))
            continue;
        env.emplace_back(entry);
    }
    env.push_back(std::string(kNameVariable) + "=" + name);
    env.push_back(std::string(kFdVariable) + "=" + std::to_string(signalFd));
    env.push_back(std::string(kArgsVariable) + "=" + encoded(args));

    // The descriptor must outlive the exec.
    if (signalFd >= 0) {
        const int flags = ::fcntl(signalFd, F_GETFD);
        if (flags < 0 || ::fcntl(signalFd, F_SETFD, flags & ~FD_CLOEXEC) != 0) return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The test framework's banner would only clutter the parent's output.
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argPointers = pointersTo(argv);
    std::vector<char*> envPointers = pointersTo(env);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argPointers[0], &actions, nullptr, argPointers.data(),
                                      envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

}  // namespace testsupport
