#include <gtest/gtest.h>

#include <atomic>

#include "platform/ns/NotificationCenter.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "sdk/core/NEBAnalyticsInternalLogging.h"
#include "sdk/core/NEBAnalyticsStarting.h"
#include "tests/sdk/analytics/EngineFixture.h"

namespace analyticstest {
namespace {

class AnalyticsFacadeTest : public EngineTest {
protected:
    std::vector<std::string> seenNames() {
        std::lock_guard lock(seenMutex_);
        std::vector<std::string> names;
        for (const auto& event : seen_) names.push_back(event.name());
        return names;
    }
    // The "_ev" and "_el" of the last error event.
    std::pair<std::string, int64_t> lastErrorItem() {
        std::lock_guard lock(seenMutex_);
        for (auto it = seen_.rbegin(); it != seen_.rend(); ++it) {
            if (it->name() != "_err") continue;
            auto ev = it->parameters().find("_ev");
            auto el = it->parameters().find("_el");
            return {ev == it->parameters().end() ? "" : *ev->second.stringValue(),
                    el == it->parameters().end() ? -1 : el->second.int64Value()};
        }
        return {"", -1};
    }
};

TEST_F(AnalyticsFacadeTest, InterceptorHoldsPublicEventsUntilReentered) {
    startEngine();
    std::vector<std::pair<std::string, double>> intercepted;
    NEBAnalytics::setLogEventInterceptor(
        [&](const std::string&, const std::string& name, const ns::Dictionary&, double stamp) {
            intercepted.emplace_back(name, stamp);
        });
    NEBAnalytics::logEventWithName(ns::Value("tap"), {});
    NEBAnalytics::logInternalEventWithOrigin("auto", "_internal", {});
    loop().runUntilIdle();
    ASSERT_EQ(intercepted.size(), 1u);
    EXPECT_EQ(seenNames(), std::vector<std::string>{"_internal"});
    EXPECT_EQ(storedEvents("tap"), 0);

    NEBAnalytics::logEventWithOrigin("app", true, "tap", {}, intercepted[0].second, false, true);
    loop().runUntilIdle();
    EXPECT_EQ(seenNames(), (std::vector<std::string>{"_internal", "tap"}));
    EXPECT_EQ(storedEvents("tap"), 1);
}

TEST_F(AnalyticsFacadeTest, DisabledFacadeHandsEventsToTheEngineOnly) {
    startEngine();
    NEBAnalytics::setIsAnalyticsEnabled(false);
    bool intercepted = false;
    NEBAnalytics::setLogEventInterceptor([&](const std::string&, const std::string&,
                                             const ns::Dictionary&,
                                             double) { intercepted = true; });
    NEBAnalytics::logEventWithName(ns::Value("tap"), {});
    loop().runUntilIdle();
    EXPECT_FALSE(intercepted);
    EXPECT_TRUE(seenNames().empty());
    EXPECT_EQ(storedEvents("tap"), 0);
    // Re-entered with ignoreEnabled, it takes the interceptor step as if enabled.
    NEBAnalytics::logEventWithOrigin("app", true, "tap", {}, 1.8e9, true, false);
    loop().runUntilIdle();
    EXPECT_TRUE(intercepted);
}

TEST_F(AnalyticsFacadeTest, RemovedListenerHearsNoMore) {
    startEngine();
    int first = 0, second = 0;
    auto a = NEBAnalytics::addLogEventListener([&](const NEBAEvent&) { ++first; });
    auto b = NEBAnalytics::addLogEventListener([&](const NEBAEvent&) { ++second; });
    ASSERT_TRUE(a && b);
    EXPECT_FALSE(NEBAnalytics::addLogEventListener(nullptr));
    NEBAnalytics::removeLogEventListener(*a);
    NEBAnalytics::removeLogEventListener(*b + 100);  // never issued: changes nothing
    NEBAnalytics::logEventWithName(ns::Value("tap"), {});
    loop().runUntilIdle();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
}

struct RejectedInput {
    const char* name;
    std::function<void()> call;
    int64_t code;
    std::string item;
    int64_t length;
};

class RejectedInputTest : public AnalyticsFacadeTest,
                          public ::testing::WithParamInterface<RejectedInput> {};

TEST_P(RejectedInputTest, RaisesItsErrorEvent) {
    startEngine();
    GetParam().call();
    loop().runUntilIdle();
    EXPECT_EQ(errorCodes(), std::vector<int64_t>{GetParam().code});
    EXPECT_EQ(lastErrorItem(), std::make_pair(GetParam().item, GetParam().length));
}

const std::string k33(33, 'a');
const std::string k37(37, 'v');

INSTANTIATE_TEST_SUITE_P(
    Cases, RejectedInputTest,
    ::testing::Values(
        RejectedInput{"ReservedEventName",
                      [] { NEBAnalytics::logEventWithName(ns::Value("first_open"), {}); }, 13,
                      "first_open", -1},
        RejectedInput{"LongEventName", [] { NEBAnalytics::logEventWithName(ns::Value(k33), {}); },
                      2, std::string(32, 'a') + "...", 33},
        RejectedInput{"LongUserPropertyValue",
                      [] { NEBAnalytics::setUserPropertyString(ns::Value(k37), ns::Value("p")); },
                      7, "p", 37},
        RejectedInput{"LongUserID", [] { NEBAnalytics::setUserID(ns::Value(k37)); }, 7, "_id", 37},
        RejectedInput{
            "ReservedUserPropertyName",
            [] { NEBAnalytics::setUserPropertyString(ns::Value("v"), ns::Value("nebula_x")); }, 15,
            "nebula_x", -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AnalyticsFacadeTest, UserIDRules) {
    startEngine();
    NEBAnalytics::setUserID(ns::Value("user-1"));
    loop().runUntilIdle();
    NEBAnalytics::setUserID(ns::Value(42));
    loop().runUntilIdle();
    EXPECT_TRUE(logs().contains("User ID must be NSString. User ID"));
    ns::Dictionary properties;
    NEBAnalytics::userPropertiesIncludingInternal(
        true, &dispatch::Queue::main(), [&](ns::Dictionary p) { properties = std::move(p); });
    loop().runUntilIdle();
    EXPECT_EQ(properties.at("_id"), ns::Value("user-1"));
    NEBAnalytics::setUserID(ns::Value());
    loop().runUntilIdle();
    NEBAnalytics::userPropertiesIncludingInternal(
        true, &dispatch::Queue::main(), [&](ns::Dictionary p) { properties = std::move(p); });
    loop().runUntilIdle();
    EXPECT_FALSE(properties.contains("_id"));
}

TEST_F(AnalyticsFacadeTest, UserPropertiesWithoutQueueAnswerEmptyOnMain) {
    startEngine();
    NEBAnalytics::setUserPropertyString(ns::Value("v"), ns::Value("p"));
    std::atomic<bool> onMain = false;
    bool called = false;
    NEBAnalytics::userPropertiesIncludingInternal(false, nullptr, [&](ns::Dictionary p) {
        called = true;
        onMain = dispatch::Queue::main().isCurrent() && p.empty();
    });
    loop().runUntilIdle();
    EXPECT_TRUE(called);
    EXPECT_TRUE(onMain);
}

// Messaging finds analytics by its class name and logs its notification events through it.
TEST_F(AnalyticsFacadeTest, OtherPartsLogThroughTheClassFoundByName) {
    startEngine();
    ns::ScopedSharedInstance<rt::ClassRegistry> classes;
    NEBAnalytics::registerClass(rt::ClassRegistry::shared());
    const auto* found = rt::ClassRegistry::shared().classNamed(kNEBAnalyticsClassName);
    ASSERT_TRUE(found);
    for (const char* operation :
         {kNEBAnalyticsLogInternalEventOperation, kNEBAnalyticsSetInternalUserPropertyOperation})
        EXPECT_TRUE(found->instancesRespondTo(operation)) << operation;
    auto analytics = std::dynamic_pointer_cast<NEBAnalyticsInternalLogging>(found->create());
    ASSERT_TRUE(analytics);
    analytics->logInternalEventWithOrigin("ncm", "_no", {{"_nmid", ns::Value("1")}});
    analytics->setInternalUserProperty(ns::Value("news"), "_ln");
    loop().runUntilIdle();
    EXPECT_EQ(seenNamed("_no").size(), 1u);
    EXPECT_EQ(storedEvents("_no"), 1);
    EXPECT_TRUE(
        onWorker([&] { return engine_->database()->userAttributeWithName("_ln").value(); }));
}

TEST_F(AnalyticsFacadeTest, StartsOnceAndFollowsTheEnabledNotification) {
    int posted = 0;
    auto token = ns::NotificationCenter::defaultCenter().addObserver(
        kNEBAnalyticsWillStartNotification, nullptr, [&](const ns::Notification&) { ++posted; });
    NEBAMeasurement::ScopedSharedOverride none(nullptr);
    auto configuration = std::make_shared<NEBAnalyticsConfiguration>();
    auto opts = options({{kNEBAnalyticsCollectionEnabled, ns::Value(false)}});
    NEBAnalytics::startWithConfiguration(configuration, opts, NEBServices::standard());
    NEBAnalytics::startWithConfiguration(configuration, opts, NEBServices::standard());
    loop().runUntilIdle();
    ns::NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(posted, 1);
    auto engine = NEBAMeasurement::sharedInstance();
    ASSERT_TRUE(engine);
    EXPECT_FALSE(engine->wasEnabledDuringInitialization());

    configuration->postNotificationName(kNEBAnalyticsConfigurationSetEnabledNotification,
                                        ns::Value(true));
    loop().runUntilIdle();
    EXPECT_TRUE(engine->scheduler()->workerQueue()->sync([&] { return engine->isEnabled(); }));
}

}  // namespace
}  // namespace analyticstest
