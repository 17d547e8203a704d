#include "tests/e2e/HostProcess.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

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

}  // namespace

#endif
