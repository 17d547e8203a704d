#include "sdk/messaging/NEBMessagingContextManagerService.h"

#include <gtest/gtest.h>

#include "platform/ns/LocalTime.h"
#include "platform/svc/LocalNotificationScheduler.h"
#include "platform/svc/UserNotificationCenter.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"

namespace {

using namespace std::chrono_literals;

class NEBMessagingContextManagerServiceTest : public messagingtest::MessagingTest {
protected:
    void SetUp() override {
        MessagingTest::SetUp();
        previousZone_ = ns::LocalTime::defaultTimeZone();
        ns::LocalTime::setDefaultTimeZone("Europe/Berlin");
        // Now: 2026-03-29 00:30 in Berlin, an hour before the clocks go forward.
        loop().advanceBy(
            std::chrono::duration_cast<dispatch::Duration>(std::chrono::duration<double>(
                ns::LocalTime::parse("2026-03-29 00:30:00")->timeIntervalSince1970() -
                dispatch::Clock::current().wallTime())));
    }
    void TearDown() override {
        ns::LocalTime::setDefaultTimeZone(previousZone_);
        MessagingTest::TearDown();
    }
    static ns::Dictionary message(std::string start, std::optional<std::string> end = {}) {
        ns::Dictionary m{{"nebula.c.cm.lt_start", ns::Value(std::move(start))},
                         {"nebula.c.cm.other", ns::Value("x")},
                         {"msg.message_id", ns::Value("m1")},
                         {"msg.notification.body", ns::Value("hello")},
                         {"msg.notification.badge", ns::Value("3")},
                         {"app", ns::Value("v")}};
        if (end) m.insert_or_assign("nebula.c.cm.lt_end", ns::Value(*end));
        return m;
    }
    auto& scheduler() { return *scheduler_; }

    ns::ScopedSharedInstance<svc::LocalNotificationScheduler> scheduler_;
    ns::ScopedSharedInstance<svc::UserNotificationCenter> center_;
    std::string previousZone_;
};

TEST_F(NEBMessagingContextManagerServiceTest, AStartAcrossTheDaylightSavingGapFiresOnTheWallClock) {
    using Service = NEBMessagingContextManagerService;
    ASSERT_TRUE(Service::handleContextManagerMessage(message("2026-03-29 03:30:00")));
    auto scheduled = scheduler().scheduledLocalNotifications();
    ASSERT_EQ(scheduled.size(), 1u);
    EXPECT_EQ(scheduled[0].alertBody, "hello");
    EXPECT_EQ(scheduled[0].applicationIconBadgeNumber, 3);
    EXPECT_FALSE(scheduled[0].alertTitle);
    ASSERT_TRUE(scheduled[0].userInfo);
    EXPECT_TRUE(scheduled[0].userInfo->contains("msg.message_id"));
    EXPECT_FALSE(scheduled[0].userInfo->contains("nebula.c.cm.other"));
    // 00:30 to 03:30 on the wall clock is two hours of real time that night.
    loop().advanceBy(2h - 1s);
    EXPECT_TRUE(center_->presented().empty());
    loop().advanceBy(1s);
    ASSERT_EQ(center_->presented().size(), 1u);
    EXPECT_EQ(center_->presented()[0].first.request.content.body, "hello");
}

TEST_F(NEBMessagingContextManagerServiceTest, ElapsedAndUnreadableTimes) {
    using Service = NEBMessagingContextManagerService;
    EXPECT_FALSE(Service::handleContextManagerMessage(message("2026-02-31 10:00:00")));
    EXPECT_EQ(log_->count("Invalid local start date format 2026-02-31 10:00:00. Message dropped"),
              1u);
    EXPECT_TRUE(Service::handleContextManagerMessage(message("2026-03-28 10:00:00")));
    EXPECT_EQ(log_->count("No end date specified for message"), 1u);
    EXPECT_TRUE(Service::handleContextManagerMessage(
        message("2026-03-28 10:00:00", "2026-03-28 23:00:00")));
    EXPECT_EQ(log_->count("End date 2026-03-28 23:00:00 has already passed. Message dropped."), 1u);
    EXPECT_TRUE(scheduler().scheduledLocalNotifications().empty());

    EXPECT_TRUE(Service::handleContextManagerMessage(
        message("2026-03-28 10:00:00", "2026-03-30 00:00:00")));
    ASSERT_EQ(scheduler().scheduledLocalNotifications().size(), 1u);
    EXPECT_EQ(scheduler().scheduledLocalNotifications()[0].fireDate.timeIntervalSinceNow(), 10);
    EXPECT_FALSE(Service::isContextManagerMessage({{"nebula.c.cm.lt_start", ns::Value("")}}));
}

}  // namespace
