#include <gtest/gtest.h>

#include <algorithm>

#include "platform/ui/Application.h"
#include "tests/sdk/analytics/EngineFixture.h"

namespace analyticstest {
namespace {

class SessionTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        startEngine();
        reporter_ = engine_->sessionReporter();
        ASSERT_TRUE(reporter_);
    }
    void TearDown() override {
        reporter_.reset();
        EngineTest::TearDown();
    }

    void advance(double seconds) { loop().advanceBy(dispatch::seconds(seconds)); }
    static void post(const char* name) { ns::NotificationCenter::defaultCenter().post(name); }
    size_t count(const std::string& name) {
        std::lock_guard lock(seenMutex_);
        return std::count_if(seen_.begin(), seen_.end(),
                             [&](const NEBAEvent& e) { return e.name() == name; });
    }
    int64_t lastEngagementMillis() {
        std::lock_guard lock(seenMutex_);
        for (auto it = seen_.rbegin(); it != seen_.rend(); ++it)
            if (it->name() == "_e") return it->parameters().at("_et").int64Value();
        return -1;
    }

    std::shared_ptr<NEBASessionReporter> reporter_;
};

TEST_F(SessionTest, FirstSessionAfterTheMinimumForegroundTime) {
    advance(9.9);
    EXPECT_EQ(count("_s"), 0u);
    advance(0.1);
    EXPECT_EQ(count("_s"), 1u);
    EXPECT_FALSE(persistedConfig()->startNewSession());
    advance(100);
    EXPECT_EQ(count("_s"), 1u);
}

TEST_F(SessionTest, TimeoutIsStrictlyExceeded) {
    advance(10);
    post(ui::kApplicationWillResignActiveNotification);
    advance(1800);
    post(ui::kApplicationDidBecomeActiveNotification);
    advance(60);
    EXPECT_EQ(count("_s"), 1u);
    post(ui::kApplicationWillResignActiveNotification);
    advance(1800.5);
    post(ui::kApplicationDidBecomeActiveNotification);
    advance(10);
    EXPECT_EQ(count("_s"), 2u);
}

TEST_F(SessionTest, BackgroundingCarriesTheTimeTowardsThePendingSession) {
    advance(4);
    post(ui::kApplicationWillResignActiveNotification);
    // The cancelled firing must not run when its time comes.
    advance(30);
    EXPECT_EQ(count("_s"), 0u);
    EXPECT_DOUBLE_EQ(persistedConfig()->engagementTimeBeforeSessionStart(), 4);
    post(ui::kApplicationDidBecomeActiveNotification);
    advance(5.9);
    EXPECT_EQ(count("_s"), 0u);
    advance(0.1);
    EXPECT_EQ(count("_s"), 1u);
}

TEST_F(SessionTest, EngagementIsReportedInTruncatedMilliseconds) {
    advance(10);
    post(ui::kApplicationWillResignActiveNotification);
    advance(100);
    post(ui::kApplicationDidBecomeActiveNotification);
    advance(1.2345);
    post(ui::kApplicationWillResignActiveNotification);
    loop().runUntilIdle();
    EXPECT_EQ(lastEngagementMillis(), 1234);
}

TEST_F(SessionTest, DisabledReportingLogsNothingButKeepsTheState) {
    engine_->setIsEnabled(false);
    loop().runUntilIdle();
    advance(3601);
    EXPECT_EQ(count("_s"), 0u);
    EXPECT_EQ(count("_e"), 0u);
    EXPECT_FALSE(persistedConfig()->startNewSession());
    EXPECT_GT(persistedConfig()->lastUserEngagementEventTimestamp(), 0);
}

TEST_F(SessionTest, NegativeIntervalsAreStoredAsZero) {
    engine_->setMinimumSessionInterval(-5);
    engine_->setSessionTimeoutInterval(-1);
    loop().runUntilIdle();
    EXPECT_EQ(reporter_->minimumSessionInterval(), 0);
    EXPECT_EQ(reporter_->timeoutSessionInterval(), 0);
    // The pending session's alarm was re-armed with the new, shorter interval.
    EXPECT_EQ(count("_s"), 1u);
    EXPECT_TRUE(logs().contains("Received negative minimum session duration"));
}

}  // namespace
}  // namespace analyticstest
