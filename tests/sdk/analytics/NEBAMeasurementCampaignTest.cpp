#include <gtest/gtest.h>

#include "platform/ns/UserDefaults.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/sys/DeviceFacts.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Application.h"
#include "sdk/analytics/NEBAKeychainWrapper.h"
#include "tests/sdk/analytics/EngineFixture.h"

namespace analyticstest {
namespace {

ns::Value parameter(const NEBAEvent& event, const std::string& name) {
    auto it = event.parameters().find(name);
    return it == event.parameters().end() ? ns::Value() : it->second.object();
}

class CampaignTest : public EngineTest {
protected:
    static std::shared_ptr<NEBOptions> appOptions() { return options(); }
    static std::string deepLink() {
        return ns::UserDefaults::standardUserDefaults()
            ->stringForKey(NEBAMeasurement::kDeepLinkKey)
            .value_or("");
    }
};

TEST_F(CampaignTest, FirstOpenTimeIsTheNextWholeHour) {
    EXPECT_EQ(NEBAMeasurement::timestampMillisRoundedUpToNextHour(1800000), 3600000);
    EXPECT_EQ(NEBAMeasurement::timestampMillisRoundedUpToNextHour(2 * 3600000), 3 * 3600000);
}

TEST_F(CampaignTest, CampaignEventsNeedOneOfTheRequiredParameters) {
    startEngine();
    engine_->handleOpenURL(ns::URL::parse("hybridexample://open?utm_content=banner"));
    EXPECT_TRUE(seenNamed("_cmp").empty());
    engine_->handleOpenURL(
        ns::URL::parse("hybridexample://open?utm_content=banner&utm_source=news&utm_term=&x=1"),
        int64_t{1234});
    auto campaigns = seenNamed("_cmp");
    ASSERT_EQ(campaigns.size(), 1u);
    EXPECT_EQ(parameter(campaigns[0], "source"), ns::Value("news"));
    EXPECT_EQ(parameter(campaigns[0], "content"), ns::Value("banner"));
    EXPECT_EQ(parameter(campaigns[0], "click_timestamp"), ns::Value(int64_t{1234}));
    EXPECT_TRUE(parameter(campaigns[0], "term").isNull());
    EXPECT_TRUE(parameter(campaigns[0], "x").isNull());
}

TEST_F(CampaignTest, FirstOpenCountsEarlierInstallsAndReportsTheLaunchLink) {
    ASSERT_TRUE(keychain().upsertKeychainValue("2", "_pfo", kBundleID));
    ns::UserDefaults::standardUserDefaults()->setObject(
        NEBAMeasurement::kDeepLinkKey, ns::Value("https://example.invalid/p?utm_source=mail"));
    startEngine(appOptions(), true);

    auto firstOpens = seenNamed("_f");
    ASSERT_EQ(firstOpens.size(), 1u);
    EXPECT_EQ(parameter(firstOpens[0], "_pfo"), ns::Value(int64_t{2}));
    EXPECT_EQ(parameter(firstOpens[0], "_uwa"), ns::Value(int64_t{0}));
    EXPECT_EQ(parameter(firstOpens[0], "_c"), ns::Value(int64_t{1}));
    EXPECT_EQ(firstOpens[0].timestamp(), engine_->initTimestamp());
    auto engagement = seenNamed("_e");
    ASSERT_EQ(engagement.size(), 1u);
    EXPECT_EQ(parameter(engagement[0], "_et"), ns::Value(int64_t{1}));
    EXPECT_EQ(storedEvents("_f"), 1);
    EXPECT_EQ(keychain().keychainValueWithIdentifier("_pfo", kBundleID), "3");

    auto millis = static_cast<int64_t>(engine_->initTimestamp() * 1000);
    auto firstOpenTime = onWorker(
        [&] { return engine_->database()->userAttributeWithName("_fot").value().value().value(); });
    EXPECT_EQ(firstOpenTime.int64Value(),
              NEBAMeasurement::timestampMillisRoundedUpToNextHour(millis));
    auto campaigns = seenNamed("_cmp");
    ASSERT_EQ(campaigns.size(), 1u);
    EXPECT_EQ(parameter(campaigns[0], "click_timestamp"), ns::Value(millis - 1));
    EXPECT_EQ(deepLink(), "");

    // The next launch is no first open.
    restartEngine(appOptions());
    EXPECT_EQ(seenNamed("_f").size(), 1u);
}

TEST_F(CampaignTest, UpdatesAreReportedWithThePreviousVersionFromTheSecondLaunchOn) {
    startEngine(appOptions(), true);
    EXPECT_TRUE(seenNamed("_au").empty());
    EXPECT_TRUE(seenNamed("_ou").empty());
    EXPECT_EQ(engine_->persistedConfig()->osVersion(), sys::DeviceFacts::current().systemVersion());

    engine_->persistedConfig()->setAppVersion("0.9");
    engine_->persistedConfig()->setOsVersion("16.1");
    restartEngine(appOptions());
    auto appUpdates = seenNamed("_au");
    auto systemUpdates = seenNamed("_ou");
    ASSERT_EQ(appUpdates.size(), 1u);
    ASSERT_EQ(systemUpdates.size(), 1u);
    EXPECT_EQ(parameter(appUpdates[0], "_pv"), ns::Value("0.9"));
    EXPECT_EQ(parameter(systemUpdates[0], "_po"), ns::Value("16.1"));
    restartEngine(appOptions());
    EXPECT_EQ(seenNamed("_ou").size(), 1u);
}

TEST_F(CampaignTest, TheLaunchKeepsAWebActivitysLinkBeforeTheLaunchURL) {
    ns::ScopedSharedInstance<rt::ClassRegistry> classes;
    ui::Application::registerRuntimeClasses(rt::ClassRegistry::shared());
    ui::UserActivity web(ui::kUserActivityTypeBrowsingWeb);
    web.setWebpageURL(ns::URL::parse("https://example.invalid/a?utm_source=web"));
    ui::UserActivity other("com.example.reading");
    other.setWebpageURL(ns::URL::parse("https://example.invalid/b"));
    auto launch = [](const ui::UserActivity& activity) {
        ns::UserDefaults::standardUserDefaults()->removeObjectForKey(NEBAMeasurement::kDeepLinkKey);
        NEBAMeasurement::handleAppDidFinishLaunching(
            {{ui::kApplicationLaunchOptionsURLKey, ns::Value("hybridexample://launch")},
             {ui::kApplicationLaunchOptionsUserActivityDictionaryKey,
              ns::Value(ns::Dictionary{{ui::kApplicationLaunchOptionsUserActivityKey,
                                        ns::Value(activity.dictionaryRepresentation())}})}});
    };
    launch(web);
    EXPECT_EQ(deepLink(), "https://example.invalid/a?utm_source=web");
    launch(other);
    EXPECT_EQ(deepLink(), "hybridexample://launch");
}

}  // namespace
}  // namespace analyticstest
