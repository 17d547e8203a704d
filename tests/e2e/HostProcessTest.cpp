#include "tests/e2e/HostProcess.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/TempDir.h"

#ifdef HYB_HOST_EXECUTABLE

namespace {

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

namespace fs = std::filesystem;

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
