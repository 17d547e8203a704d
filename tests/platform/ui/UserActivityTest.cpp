#include "platform/ui/UserActivity.h"

#include <gtest/gtest.h>

namespace {

TEST(UserActivity, TravelsThroughLaunchOptionsAsADictionary) {
    ui::UserActivity activity(ui::kUserActivityTypeBrowsingWeb);
    activity.setWebpageURL(ns::URL::parse("https://example.com/promo?utm_source=x"));
    activity.setUserInfo({{"k", 1}});
    auto copy = ui::UserActivity::fromDictionaryRepresentation(
        ns::Value(activity.dictionaryRepresentation()));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->activityType(), "NSUserActivityTypeBrowsingWeb");
    ASSERT_TRUE(copy->webpageURL());
    EXPECT_EQ(copy->webpageURL()->absoluteString(), "https://example.com/promo?utm_source=x");
    EXPECT_EQ(copy->userInfo(), (ns::Dictionary{{"k", 1}}));
}

TEST(UserActivity, MalformedRepresentationsGiveNothingOrLeaveTheURLOut) {
    EXPECT_EQ(ui::UserActivity::fromDictionaryRepresentation(ns::Value("text")), nullptr);
    EXPECT_EQ(ui::UserActivity::fromDictionaryRepresentation(ns::Value(ns::Dictionary{})), nullptr);
    EXPECT_EQ(ui::UserActivity::fromDictionaryRepresentation(
                  ns::Value(ns::Dictionary{{"activityType", 5}})),
              nullptr);
    auto activity = ui::UserActivity::fromDictionaryRepresentation(ns::Value(
        ns::Dictionary{{"activityType", "t"}, {"webpageURL", ""}, {"userInfo", "not a dict"}}));
    ASSERT_NE(activity, nullptr);
    EXPECT_FALSE(activity->webpageURL());
    EXPECT_TRUE(activity->userInfo().empty());
    EXPECT_TRUE(activity->dictionaryRepresentation() == (ns::Dictionary{{"activityType", "t"}}));
}

}  // namespace
