#include "sdk/core/NEBAnalyticsConfiguration.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/ns/NotificationCenter.h"
#include "platform/ns/UserDefaults.h"
#include "sdk/core/NEBConfiguration.h"
#include "tests/sdk/core/SdkCoreFixture.h"

namespace {

class NEBAnalyticsConfigurationTest : public sdktest::SdkCoreTest {
protected:
    void SetUp() override {
        SdkCoreTest::SetUp();
        token_ = ns::NotificationCenter::defaultCenter().addObserver(
            "", nullptr, [this](const ns::Notification& n) {
                if (n.name.rfind("NEBAnalyticsConfiguration", 0) == 0) posted_.push_back(n);
            });
    }
    void TearDown() override {
        ns::NotificationCenter::defaultCenter().removeObserver(token_);
        SdkCoreTest::TearDown();
    }
    std::vector<ns::Notification> posted_;
    ns::NotificationCenter::ObserverToken token_ = 0;
};

TEST_F(NEBAnalyticsConfigurationTest, CollectionSwitchIsStoredAsOneOrTwoAndAnnounced) {
    auto configuration = NEBConfiguration::sharedInstance().analyticsConfiguration();
    ASSERT_EQ(configuration, NEBAnalyticsConfiguration::sharedInstance());
    auto defaults = ns::UserDefaults::standardUserDefaults();

    configuration->setAnalyticsCollectionEnabled(false);
    EXPECT_EQ(defaults->objectForKey("/nebula/measurement/measurement_enabled_state"),
              ns::Value(2));
    configuration->setIsEnabled(true);
    EXPECT_EQ(defaults->objectForKey("/nebula/measurement/measurement_enabled_state"),
              ns::Value(1));

    ASSERT_EQ(posted_.size(), 2u);
    EXPECT_EQ(posted_[0].name, "NEBAnalyticsConfigurationSetEnabledNotification");
    EXPECT_EQ(posted_[0].object, configuration);
    EXPECT_EQ(posted_[0].userInfo,
              (ns::Dictionary{{"NEBAnalyticsConfigurationSetEnabledNotification", false}}));
    EXPECT_EQ(posted_[1].userInfo.at("NEBAnalyticsConfigurationSetEnabledNotification"),
              ns::Value(true));
}

TEST_F(NEBAnalyticsConfigurationTest, IntervalsAreAnnouncedAsSeconds) {
    auto configuration = NEBAnalyticsConfiguration::sharedInstance();
    configuration->setMinimumSessionInterval(12.5);
    configuration->setSessionTimeoutInterval(1800);
    ASSERT_EQ(posted_.size(), 2u);
    EXPECT_EQ(
        posted_[0].userInfo,
        (ns::Dictionary{{"NEBAnalyticsConfigurationSetMinimumSessionIntervalNotification", 12.5}}));
    EXPECT_EQ(posted_[1].userInfo,
              (ns::Dictionary{
                  {"NEBAnalyticsConfigurationSetSessionTimeoutIntervalNotification", 1800.0}}));
}

TEST_F(NEBAnalyticsConfigurationTest, NothingIsPostedWithoutNameOrValue) {
    auto configuration = NEBAnalyticsConfiguration::sharedInstance();
    configuration->postNotificationName("NEBAnalyticsConfigurationSetEnabledNotification",
                                        ns::Value());
    configuration->postNotificationName("", true);
    EXPECT_TRUE(posted_.empty());
}

}  // namespace
