#include "sdk/analytics/NEBAAppDelegateProxy.h"

#include <gtest/gtest.h>

#include "platform/rt/ClassRegistry.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Application.h"
#include "tests/sdk/analytics/EngineFixture.h"

namespace analyticstest {
namespace {

using ui::DelegateOp;

// A delegate that has the current open-URL form and background-session events, but neither the
// older open-URL form nor user-activity continuation.
class Delegate : public ui::ApplicationDelegate {
public:
    bool implements(DelegateOp op) const override {
        return (op == DelegateOp::OpenURL && answersOpenURL) ||
               op == DelegateOp::HandleEventsForBackgroundURLSession;
    }
    bool openURL(ui::Application&, const std::optional<ns::URL>& url,
                 const ns::Dictionary&) override {
        opened.push_back(url ? url->absoluteString() : "");
        return true;
    }
    void handleEventsForBackgroundURLSession(ui::Application&, const std::string& identifier,
                                             const ui::CompletionHandler& completion) override {
        sessions.push_back(identifier);
        completion();
    }
    bool answersOpenURL = true;
    std::vector<std::string> opened;
    std::vector<std::string> sessions;
};

class AppDelegateProxyTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        application_->setDelegate(delegate_);
        startEngine();
    }

    void enableProxy(ns::Value setting) {
        application_->setInfoDictionaryProvider([setting] {
            return ns::Dictionary{{ui::kAppDelegateProxyEnabledKey, setting}};
        });
    }

    size_t campaigns() { return seenNamed("_cmp").size(); }

    ns::ScopedSharedInstance<ui::Application> application_;
    std::shared_ptr<Delegate> delegate_ = std::make_shared<Delegate>();
};

TEST_F(AppDelegateProxyTest, OpenedURLsReachAnalyticsFirstAndThenTheDelegate) {
    std::vector<std::string> heard;
    NEBAnalytics::setOpenURLListener(
        [&](const ns::URL& url) { heard.push_back(url.absoluteString()); });
    enableProxy(ns::Value("no"));  // not a number: enabled
    NEBAAppDelegateProxy::proxyOriginalDelegate(delegate_, NEBAnalytics::handleOpenURL);
    const std::string link = "hybridexample://open?utm_source=mail";
    EXPECT_TRUE(application_->deliver<DelegateOp::OpenURL>(ns::URL::parse(link), ns::Dictionary{}));
    EXPECT_EQ(delegate_->opened, std::vector<std::string>{link});
    EXPECT_EQ(campaigns(), 1u);
    EXPECT_EQ(heard, std::vector<std::string>{link});

    // The older form: reported, and answered as a default implementation would.
    EXPECT_TRUE(application_->deliver<DelegateOp::OpenURLWithSourceApplication>(
        ns::URL::parse(link), std::string("com.example.mail"), ns::Value()));
    EXPECT_EQ(campaigns(), 2u);

    // Without the delegate's own open-URL, the URL is still reported and the answer is NO.
    delegate_->answersOpenURL = false;
    EXPECT_FALSE(
        application_->deliver<DelegateOp::OpenURL>(ns::URL::parse(link), ns::Dictionary{}));
    EXPECT_EQ(campaigns(), 3u);
}

TEST_F(AppDelegateProxyTest, WebActivitiesAreReportedAndMissingHandlersSaidOnce) {
    ns::ScopedSharedInstance<rt::ClassRegistry> classes;
    ui::Application::registerRuntimeClasses(rt::ClassRegistry::shared());
    NEBAAppDelegateProxy::proxyOriginalDelegate(delegate_, NEBAnalytics::handleOpenURL);
    auto web = std::make_shared<ui::UserActivity>(ui::kUserActivityTypeBrowsingWeb);
    web->setWebpageURL(ns::URL::parse("https://example.invalid/p?gclid=abc"));
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(
            application_->deliver<DelegateOp::ContinueUserActivity>(web, ui::RestorationHandler{}));
    EXPECT_EQ(campaigns(), 2u);
    EXPECT_EQ(logLines("Implementation of application:continueUserActivity:restorationHandler: "
                       "not found"),
              1u);
    // Another kind of activity has no link.
    EXPECT_TRUE(application_->deliver<DelegateOp::ContinueUserActivity>(
        std::make_shared<ui::UserActivity>("com.example.reading"), ui::RestorationHandler{}));
    EXPECT_EQ(campaigns(), 2u);
}

TEST_F(AppDelegateProxyTest, BackgroundSessionsOfOthersReachTheDelegate) {
    NEBAAppDelegateProxy::proxyOriginalDelegate(delegate_, NEBAnalytics::handleOpenURL);
    int completions = 0;
    application_->deliver<DelegateOp::HandleEventsForBackgroundURLSession>(
        std::string("com.example.downloads"), ui::CompletionHandler([&] { ++completions; }));
    EXPECT_EQ(delegate_->sessions, std::vector<std::string>{"com.example.downloads"});
    EXPECT_EQ(completions, 1);
}

TEST_F(AppDelegateProxyTest, TheInfoPlistSwitchLeavesTheDelegateAlone) {
    enableProxy(ns::Value(false));
    NEBAAppDelegateProxy::proxyOriginalDelegate(delegate_, NEBAnalytics::handleOpenURL);
    EXPECT_FALSE(
        application_->isHookInstalled(DelegateOp::OpenURL, NEBAAppDelegateProxy::kHookOwner));
    EXPECT_FALSE(application_->delegateRespondsTo(DelegateOp::ContinueUserActivity));
    application_->deliver<DelegateOp::OpenURL>(ns::URL::parse("hybridexample://x?utm_source=a"),
                                               ns::Dictionary{});
    EXPECT_EQ(campaigns(), 0u);
    EXPECT_TRUE(logs().contains("Nebula Analytics App Delegate Proxy is disabled."));
}

}  // namespace
}  // namespace analyticstest
