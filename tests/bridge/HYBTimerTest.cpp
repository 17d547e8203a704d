#include "bridge/HYBTimer.h"

#include <gtest/gtest.h>

#include "tests/support/LogCapture.h"
#include "tests/support/ManualRunLoop.h"

namespace {

class HYBTimerTest : public testsupport::ManualRunLoop {
protected:
    void SetUp() override {
        ManualRunLoop::SetUp();
        HYBTimer::clearAll();
    }
    void TearDown() override {
        HYBTimer::clearAll();
        ManualRunLoop::TearDown();
    }
};

TEST_F(HYBTimerTest, NamesAreCaseBlindAndTheLogKeepsTheFirstSpelling) {
    testsupport::LogCapture log;
    HYBTimer::start("PluginStart");
    HYBTimer::start("pluginstart");
    EXPECT_EQ(log.texts(), std::vector<std::string>{"Timer called 'pluginstart' already exists."});
    clock().advanceSeconds(0.25);
    log.clear();
    HYBTimer::stop("PLUGINSTART");
    EXPECT_EQ(log.texts(), std::vector<std::string>{"[HYBTimer][PluginStart] 250.000000ms"});
    log.clear();
    HYBTimer::stop("PluginStart");
    EXPECT_EQ(log.texts(), std::vector<std::string>{"Timer called 'PluginStart' does not exist."});
}

TEST_F(HYBTimerTest, ClearAllForgetsWithoutLogging) {
    HYBTimer::start("a");
    testsupport::LogCapture log;
    HYBTimer::clearAll();
    EXPECT_TRUE(log.texts().empty());
    HYBTimer::stop("a");
    EXPECT_TRUE(log.contains("Timer called 'a' does not exist."));
}

}  // namespace
