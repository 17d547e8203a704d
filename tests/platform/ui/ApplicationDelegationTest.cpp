#include <gtest/gtest.h>

#include "platform/rt/ClassRegistry.h"
#include "platform/ui/Application.h"
#include "tests/platform/ui/RecordingDelegate.h"

namespace {

using ui::DelegateOp;
using uitest::RecordingDelegate;

ns::URL url(std::string_view text) {
    return *ns::URL::parse(text);
}

class ApplicationDelegationTest : public ::testing::Test {
protected:
    std::shared_ptr<ui::Application> app = std::make_shared<ui::Application>();
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>(
        std::set<DelegateOp>{DelegateOp::OpenURL, DelegateOp::DidRegisterForRemoteNotifications,
                             DelegateOp::DidReceiveRemoteNotificationWithFetch});
    std::vector<std::string> log;

    void SetUp() override { app->setDelegate(delegate); }

    // A hook on open-URL that logs what it sees and what comes back, then adds its mark.
    void installLoggingOpenURLHook(const std::string& owner) {
        app->installHook<DelegateOp::OpenURL>(
            owner, [this, owner](ui::Application& a, const std::optional<ns::URL>& u,
                                 const ns::Dictionary& options, const auto& next) {
                EXPECT_EQ(&a, app.get());
                log.push_back(owner + " sees " + u->absoluteString() + " " +
                              *options.at("source").string());
                bool answer = next(a, u, options);
                log.push_back(owner + " got " + (answer ? "YES" : "NO"));
                return answer;
            });
    }
};

TEST_F(ApplicationDelegationTest, HooksRunInInstallOrderAndAnswersFlowBack) {
    installLoggingOpenURLHook("first");
    installLoggingOpenURLHook("second");
    delegate->calls.clear();

    bool answer = app->deliver<DelegateOp::OpenURL>(url("myapp://deep/link"),
                                                    ns::Dictionary{{"source", "com.other"}});

    EXPECT_TRUE(answer);
    EXPECT_EQ(log, (std::vector<std::string>{"first sees myapp://deep/link com.other",
                                             "second sees myapp://deep/link com.other",
                                             "second got YES", "first got YES"}));
    EXPECT_EQ(delegate->calls, std::vector<std::string>{"openURL myapp://deep/link"});

    delegate->openURLAnswer = false;
    log.clear();
    EXPECT_FALSE(
        app->deliver<DelegateOp::OpenURL>(url("myapp://x"), ns::Dictionary{{"source", "s"}}));
    EXPECT_EQ(log.back(), "first got NO");
}

TEST_F(ApplicationDelegationTest, AHookThatDoesNotCallNextDecidesAlone) {
    app->installHook<DelegateOp::OpenURL>(
        "interceptor",
        [](ui::Application&, const auto&, const auto&, const auto&) { return true; });
    delegate->openURLAnswer = false;
    EXPECT_TRUE(app->deliver<DelegateOp::OpenURL>(url("myapp://x"), ns::Dictionary{}));
    EXPECT_TRUE(delegate->calls.empty());
}

TEST_F(ApplicationDelegationTest, MissingOperationEndsAtTheAssumedAnswer) {
    // The recording delegate overrides these methods but does not claim them: they must not run.
    auto partial = std::make_shared<RecordingDelegate>();
    app->setDelegate(partial);
    bool hookRan = false;
    app->installHook<DelegateOp::OpenURL>(
        "observer", [&](ui::Application& a, const auto& u, const auto& o, const auto& next) {
            hookRan = true;
            return next(a, u, o);
        });
    EXPECT_FALSE(app->deliver<DelegateOp::OpenURL>(url("myapp://x"), ns::Dictionary{}));
    EXPECT_TRUE(hookRan);
    EXPECT_TRUE(app->deliver<DelegateOp::DidFinishLaunching>(ns::Dictionary{}));
    bool handlerCalled = false;
    app->deliver<DelegateOp::DidReceiveRemoteNotificationWithFetch>(
        ns::Dictionary{}, [&](ui::BackgroundFetchResult) { handlerCalled = true; });
    EXPECT_FALSE(handlerCalled);
    EXPECT_TRUE(partial->calls.empty());

    // No delegate at all: the same answers.
    app->setDelegate(nullptr);
    EXPECT_FALSE(app->deliver<DelegateOp::OpenURLWithSourceApplication>(
        std::nullopt, std::string("com.other"), ns::Value()));
    EXPECT_FALSE(app->deliver<DelegateOp::ContinueUserActivity>(nullptr, nullptr));
    EXPECT_EQ(app->deliver<DelegateOp::SupportedInterfaceOrientations>(nullptr),
              ui::kInterfaceOrientationMaskAll);
    app->deliver<DelegateOp::DidBecomeActive>();
}

TEST_F(ApplicationDelegationTest, EachOwnerInstallsOncePerOperation) {
    int count = 0;
    auto counting = [&count](ui::Application& a, const ns::Data& token, const auto& next) {
        ++count;
        next(a, token);
    };
    EXPECT_TRUE(app->installHook<DelegateOp::DidRegisterForRemoteNotifications>("iid", counting));
    EXPECT_FALSE(app->installHook<DelegateOp::DidRegisterForRemoteNotifications>("iid", counting));
    // The same owner may hook another operation, and another owner the same one.
    EXPECT_TRUE(app->installHook<DelegateOp::DidFailToRegisterForRemoteNotifications>(
        "iid", [](ui::Application&, const ns::Error&, const auto&) {}));
    EXPECT_TRUE(
        app->installHook<DelegateOp::DidRegisterForRemoteNotifications>("messaging", counting));
    EXPECT_TRUE(app->isHookInstalled(DelegateOp::DidRegisterForRemoteNotifications, "iid"));
    EXPECT_FALSE(app->isHookInstalled(DelegateOp::OpenURL, "iid"));

    app->deliver<DelegateOp::DidRegisterForRemoteNotifications>(ns::Data::fromString("tok"));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(delegate->calls, std::vector<std::string>{"token tok"});
}

TEST_F(ApplicationDelegationTest, HooksMakeTheDelegateAnswerOperationsItLacks) {
    app->setDelegate(std::make_shared<RecordingDelegate>());
    EXPECT_FALSE(app->delegateRespondsTo(DelegateOp::DidRegisterForRemoteNotifications));

    ns::Data seen;
    app->installHook<DelegateOp::DidRegisterForRemoteNotifications>(
        "iid", [&seen](ui::Application& a, const ns::Data& token, const auto& next) {
            seen = token;
            next(a, token);
        });
    EXPECT_TRUE(app->delegateRespondsTo(DelegateOp::DidRegisterForRemoteNotifications));
    EXPECT_FALSE(app->delegateImplements(DelegateOp::DidRegisterForRemoteNotifications));
    EXPECT_FALSE(app->delegateRespondsTo(DelegateOp::DidFailToRegisterForRemoteNotifications));

    app->deliver<DelegateOp::DidRegisterForRemoteNotifications>(ns::Data::fromString("abc"));
    EXPECT_EQ(seen, ns::Data::fromString("abc"));

    // The delegate's own operations answer with or without hooks, and without a delegate
    // only hooked operations do.
    app->setDelegate(delegate);
    EXPECT_TRUE(app->delegateRespondsTo(DelegateOp::OpenURL));
    app->setDelegate(nullptr);
    EXPECT_FALSE(app->delegateRespondsTo(DelegateOp::OpenURL));
    EXPECT_TRUE(app->delegateRespondsTo(DelegateOp::DidRegisterForRemoteNotifications));
}

TEST_F(ApplicationDelegationTest, HooksSeeAndMayWrapCompletionHandlers) {
    std::vector<std::string> order;
    app->installHook<DelegateOp::DidReceiveRemoteNotificationWithFetch>(
        "messaging", [&](ui::Application& a, const ns::Dictionary& info,
                         const ui::FetchCompletionHandler& handler, const auto& next) {
            order.push_back("hook " + *info.at("msg.message_id").string());
            next(a, info, [&, handler](ui::BackgroundFetchResult result) {
                order.push_back("wrapped handler");
                handler(result);
            });
        });
    app->deliver<DelegateOp::DidReceiveRemoteNotificationWithFetch>(
        ns::Dictionary{{"msg.message_id", "m1"}}, [&](ui::BackgroundFetchResult result) {
            order.push_back("handler " + std::to_string(static_cast<int>(result)));
        });
    EXPECT_EQ(order, (std::vector<std::string>{"hook m1", "wrapped handler", "handler 0"}));
}

struct ProxySwitchCase {
    const char* name;
    std::optional<ns::Value> value;  // nothing: the key is absent
    bool enabled;
};

void PrintTo(const ProxySwitchCase& c, std::ostream* os) {
    *os << c.name;
}

class DelegateProxySwitchTest : public ::testing::TestWithParam<ProxySwitchCase> {};

TEST_P(DelegateProxySwitchTest, FollowsTheInfoDictionary) {
    ui::Application app;
    ns::Dictionary info{{"CFBundleIdentifier", "com.example"}};
    if (GetParam().value) info.emplace(ui::kAppDelegateProxyEnabledKey, *GetParam().value);
    app.setInfoDictionaryProvider([info] { return info; });
    EXPECT_EQ(app.delegateProxyEnabled(), GetParam().enabled);
}

INSTANTIATE_TEST_SUITE_P(Cases, DelegateProxySwitchTest,
                         ::testing::Values(ProxySwitchCase{"Absent", std::nullopt, true},
                                           ProxySwitchCase{"BooleanNo", ns::Value(false), false},
                                           ProxySwitchCase{"BooleanYes", ns::Value(true), true},
                                           ProxySwitchCase{"IntegerZero", ns::Value(0), false},
                                           ProxySwitchCase{"IntegerOne", ns::Value(1), true},
                                           ProxySwitchCase{"DoubleZero", ns::Value(0.0), false},
                                           ProxySwitchCase{"StringNo", ns::Value("NO"), true},
                                           ProxySwitchCase{"StringZero", ns::Value("0"), true},
                                           ProxySwitchCase{"Dictionary",
                                                           ns::Value(ns::Dictionary{}), true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DelegateProxySwitch, EnabledWithoutAnInfoDictionary) {
    EXPECT_TRUE(ui::Application().delegateProxyEnabled());
}

class NotADelegate : public ns::Object {};

TEST(ApplicationDelegateClass, IsMadeFromTheClassRegistry) {
    rt::ClassRegistry registry;
    ui::Application::registerRuntimeClasses(registry);
    registry.registerClass(
        "AppDelegate", "HYBAppDelegate", [] { return std::make_shared<RecordingDelegate>(); },
        {ui::selectorName(DelegateOp::OpenURL)}, {ui::kApplicationDelegateProtocol});
    registry.registerClass("HYBAppDelegate", std::nullopt, nullptr);
    registry.registerClass("Plain", std::nullopt, [] { return std::make_shared<NotADelegate>(); });

    ui::Application app;
    EXPECT_FALSE(app.setDelegateClass("Missing", registry));
    EXPECT_FALSE(app.setDelegateClass("HYBAppDelegate", registry));  // abstract
    EXPECT_FALSE(app.setDelegateClass("Plain", registry));
    EXPECT_EQ(app.delegate(), nullptr);

    ASSERT_TRUE(app.setDelegateClass("AppDelegate", registry));
    EXPECT_NE(std::dynamic_pointer_cast<RecordingDelegate>(app.delegate()), nullptr);
    EXPECT_EQ(app.delegateClass()->name(), "AppDelegate");
    EXPECT_TRUE(app.delegateClass()->conformsTo(ui::kApplicationDelegateProtocol));
    EXPECT_TRUE(app.delegateClass()->instancesRespondTo("application:openURL:options:"));

    app.setDelegate(std::make_shared<RecordingDelegate>());
    EXPECT_EQ(app.delegateClass(), nullptr);

    EXPECT_TRUE(registry.protocolNamed("UIApplicationDelegate"));
    const rt::Class* activity = registry.classNamed("NSUserActivity");
    ASSERT_NE(activity, nullptr);
    EXPECT_TRUE(activity->instancesRespondTo("webpageURL"));
    EXPECT_TRUE(activity->instancesRespondTo("activityType"));
    EXPECT_NE(std::dynamic_pointer_cast<ui::UserActivity>(activity->create()), nullptr);
}

TEST(DelegateOpNames, AreTheSelectorTexts) {
    EXPECT_STREQ(ui::selectorName(DelegateOp::DidReceiveRemoteNotificationWithFetch),
                 "application:didReceiveRemoteNotification:fetchCompletionHandler:");
    EXPECT_STREQ(ui::selectorName(DelegateOp::OpenURLWithSourceApplication),
                 "application:openURL:sourceApplication:annotation:");
    std::set<std::string> names;
    for (size_t i = 0; i < ui::kDelegateOpCount; ++i) {
        names.insert(ui::selectorName(static_cast<DelegateOp>(i)));
    }
    EXPECT_EQ(names.size(), ui::kDelegateOpCount);
    EXPECT_EQ(names.count(""), 0u);
}

}  // namespace
