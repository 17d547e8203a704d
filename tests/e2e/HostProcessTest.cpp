#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/TempDir.h"

#ifdef HYB_HOST_EXECUTABLE

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The host program with the fixture bundle, its standard output and error read through one
// pipe.
class HostProcess {
public:
    explicit HostProcess(const std::string& sandbox) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        // The fixture bundle with the example bundle's bridge script, the one copy of it.
        const fs::path root(HYB_SOURCE_DIR);
        const std::string bundle = sandbox + "/bundle";
        fs::copy(root / "tests/fixtures/bundle", bundle, fs::copy_options::recursive);
        fs::copy_file(root / "examples/bundle/www/hybrid.js", bundle + "/www/hybrid.js");
        // What the libraries under the web view keep until exit is no concern of these cases.
        std::vector<std::string> environment{"ASAN_OPTIONS=detect_leaks=0"};
        for (char** entry = environ; *entry; ++entry) {
            if (std::string_view(*entry).rfind("ASAN_OPTIONS=", 0) != 0)
                environment.emplace_back(*entry);
        }
        std::vector<char*> envp;
        for (auto& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        const char* argv[] = {HYB_HOST_EXECUTABLE, "--bundle",      bundle.c_str(),
                              "--sandbox",         sandbox.c_str(), nullptr};
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(out[1], STDERR_FILENO);
            ::execve(HYB_HOST_EXECUTABLE, const_cast<char* const*>(argv), envp.data());
            ::_exit(127);
        }
        ::close(out[1]);
        fd_ = out[0];
    }
    ~HostProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0) ::close(fd_);
    }

    // Reads until the output holds `text` (or, with an empty text, until it ends).
    bool readUntil(const std::string& text, std::chrono::seconds cap = std::chrono::seconds(30)) {
        const auto deadline = Clock::now() + cap;
        while (text.empty() || output_.find(text) == std::string::npos) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd fd{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
                return false;
            char buffer[4096];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) return text.empty();
            output_.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }
    void signal(int number) { ::kill(pid_, number); }
    int wait() {
        int status = 0;
        ::waitpid(std::exchange(pid_, -1), &status, 0);
        return status;
    }
    const std::string& output() const { return output_; }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
    std::string output_;
};

class HostSignals : public ::testing::TestWithParam<int> {};

// A terminate signal after the page has loaded ends the host through its own shutdown
// (whichever of its threads the kernel hands the signal to), and the start reaches the page
// without a script error.
TEST_P(HostSignals, EndTheHostThroughItsShutdown) {
    testsupport::TempDir sandbox;
    HostProcess host(sandbox.str());
    ASSERT_TRUE(host.readUntil("fixture ready")) << host.output();
    host.signal(GetParam());
    ASSERT_TRUE(host.readUntil("")) << host.output();
    const int status = host.wait();
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "\n"
                                   << host.output();
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(
        host.output().find("signal " + std::to_string(GetParam()) + " received, terminating."),
        std::string::npos)
        << host.output();
    EXPECT_EQ(host.output().find("ReferenceError"), std::string::npos) << host.output();
}

INSTANTIATE_TEST_SUITE_P(Signals, HostSignals, ::testing::Values(SIGTERM, SIGINT));

}  // namespace

#endif
