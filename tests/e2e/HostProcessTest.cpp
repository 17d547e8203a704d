#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
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
        // A thread that takes signals is there before main(), as in some runs of the engine.
        std::vector<std::string> environment{"ASAN_OPTIONS=detect_leaks=0",
                                             "LD_PRELOAD=" HYB_EARLY_THREAD_MODULE};
        for (char** entry = environ; *entry; ++entry) {
            const std::string_view text(*entry);
            if (text.rfind("ASAN_OPTIONS=", 0) != 0 && text.rfind("LD_PRELOAD=", 0) != 0)
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
    // Sends the signal to a thread other than the main one that does not block it, as the
    // kernel may pick one for a signal to the process; to the process when there is none.
    void signalAThread(int number) {
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

// A terminate signal after the page has loaded ends the host through its own shutdown, even
// when a thread other than the main one takes it, and the start reaches the page without a
// script error.
TEST_P(HostSignals, EndTheHostThroughItsShutdown) {
    testsupport::TempDir sandbox;
    HostProcess host(sandbox.str());
    ASSERT_TRUE(host.readUntil("fixture ready")) << host.output();
    host.signalAThread(GetParam());
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

// Temporary files of rewrites that a kill cut short go when the host starts; one that a write
// still under way at a terminate signal leaves goes when it shuts down. Nothing else goes.
TEST(HostTemporaryFiles, LeftoversOfUnfinishedWritesGoAtLaunchAndAtShutdown) {
    testsupport::TempDir sandbox;
    const fs::path documents = sandbox.path() / "Container" / "Documents";
    fs::create_directories(documents / "sub");
    std::ofstream(documents / ".a.txt.tmp-Ab12Cd") << "half";
    std::ofstream(documents / "sub" / ".b.bin.tmp-000000") << "half";
    std::ofstream(documents / "keep.txt") << "mine";
    HostProcess host(sandbox.str());
    ASSERT_TRUE(host.readUntil("fixture ready")) << host.output();
    EXPECT_FALSE(fs::exists(documents / ".a.txt.tmp-Ab12Cd"));
    EXPECT_FALSE(fs::exists(documents / "sub" / ".b.bin.tmp-000000"));
    EXPECT_TRUE(fs::exists(documents / "keep.txt"));

    std::ofstream(documents / ".c.txt.tmp-ZZZZZZ") << "half";
    host.signalAThread(SIGTERM);
    ASSERT_TRUE(host.readUntil("")) << host.output();
    const int status = host.wait();
    ASSERT_TRUE(WIFEXITED(status)) << host.output();
    EXPECT_FALSE(fs::exists(documents / ".c.txt.tmp-ZZZZZZ"));
    EXPECT_TRUE(fs::exists(documents / "keep.txt"));
}

}  // namespace

#endif
