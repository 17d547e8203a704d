#include <gtest/gtest.h>

#include "platform/ns/Exception.h"
#include "platform/ui/Application.h"
#include "tests/platform/ui/RecordingDelegate.h"

namespace {

using ui::DelegateOp;
using uitest::RecordingDelegate;

std::set<DelegateOp> lifeCycleOps() {
    return {DelegateOp::WillFinishLaunching, DelegateOp::DidFinishLaunching,
            DelegateOp::DidBecomeActive,     DelegateOp::WillResignActive,
            DelegateOp::DidEnterBackground,  DelegateOp::WillEnterForeground,
            DelegateOp::WillTerminate,       DelegateOp::DidReceiveMemoryWarning};
}

class ApplicationLifecycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        app.setDelegate(delegate);
        app.setEventObserver([this](const std::string& name, const ns::Dictionary& userInfo) {
            delegate->calls.push_back("post " + name + (userInfo.empty() ? "" : " with user info"));
        });
    }
    std::vector<std::string> takeCalls() { return std::exchange(delegate->calls, {}); }

    ui::Application app;
    std::shared_ptr<RecordingDelegate> delegate =
        std::make_shared<RecordingDelegate>(lifeCycleOps());
};

TEST_F(ApplicationLifecycleTest, LaunchDeliversBothCallbacksThenAnnounces) {
    EXPECT_FALSE(app.isLaunched());
    ns::Dictionary options{{ui::kApplicationLaunchOptionsURLKey, "myapp://start"}};
    EXPECT_TRUE(app.launch(options));
    EXPECT_EQ(takeCalls(), (std::vector<std::string>{
                               "willFinishLaunching (inactive) options 1",
                               "didFinishLaunching (inactive) options 1",
                               "post UIApplicationDidFinishLaunchingNotification with user info"}));
    EXPECT_EQ(app.launchOptions(), options);
    EXPECT_EQ(app.applicationState(), ui::ApplicationState::Inactive);
    EXPECT_THROW(app.launch(), ns::Exception);
}

TEST_F(ApplicationLifecycleTest, LaunchAnswersNoWhenACallbackRefuses) {
    delegate->willFinishAnswer = false;
    EXPECT_FALSE(app.launch());
    // Did-finish still ran: the platform calls both.
    EXPECT_EQ(takeCalls()[1], "didFinishLaunching (inactive)");
}

TEST_F(ApplicationLifecycleTest, TransitionsRunInThePlatformsOrder) {
    app.launch();
    takeCalls();

    app.becomeActive();
    EXPECT_EQ(app.applicationState(), ui::ApplicationState::Active);
    app.becomeActive();  // already active: nothing
    EXPECT_EQ(takeCalls(),
              (std::vector<std::string>{"didBecomeActive (active)",
                                        "post UIApplicationDidBecomeActiveNotification"}));

    // Straight to the background: resigning comes first.
    app.enterBackground();
    EXPECT_EQ(app.applicationState(), ui::ApplicationState::Background);
    EXPECT_EQ(takeCalls(),
              (std::vector<std::string>{"willResignActive (active)",
                                        "post UIApplicationWillResignActiveNotification",
                                        "didEnterBackground (background)",
                                        "post UIApplicationDidEnterBackgroundNotification"}));

    app.resignActive();  // not active: nothing
    app.enterBackground();
    EXPECT_TRUE(takeCalls().empty());

    // Back to active: the foreground comes first.
    app.becomeActive();
    EXPECT_EQ(
        takeCalls(),
        (std::vector<std::string>{
            "willEnterForeground (background)", "post UIApplicationWillEnterForegroundNotification",
            "didBecomeActive (active)", "post UIApplicationDidBecomeActiveNotification"}));

    app.resignActive();
    EXPECT_EQ(app.applicationState(), ui::ApplicationState::Inactive);
    app.enterForeground();  // not in the background: nothing
    app.receiveMemoryWarning();
    app.terminate();
    EXPECT_EQ(
        takeCalls(),
        (std::vector<std::string>{
            "willResignActive (active)", "post UIApplicationWillResignActiveNotification",
            "memoryWarning (inactive)", "post UIApplicationDidReceiveMemoryWarningNotification",
            "willTerminate (inactive)", "post UIApplicationWillTerminateNotification"}));
    EXPECT_TRUE(app.isTerminated());
    EXPECT_THROW(app.becomeActive(), ns::Exception);
}

TEST_F(ApplicationLifecycleTest, TransitionsBeforeLaunchAreFaults) {
    EXPECT_THROW(app.becomeActive(), ns::Exception);
    EXPECT_THROW(app.enterBackground(), ns::Exception);
    EXPECT_THROW(app.terminate(), ns::Exception);
    EXPECT_TRUE(takeCalls().empty());
}

TEST_F(ApplicationLifecycleTest, LifeCycleCallbacksPassThroughHooks) {
    std::vector<std::string> seen;
    app.installHook<DelegateOp::DidFinishLaunching>(
        "push", [&](ui::Application& a, const ns::Dictionary& options, const auto& next) {
            // The shell's own launch runs first; the push side answers YES whatever it said.
            bool shell = next(a, options);
            seen.push_back(std::string("shell answered ") + (shell ? "YES" : "NO"));
            return true;
        });
    app.installHook<DelegateOp::DidEnterBackground>("messaging",
                                                    [&](ui::Application& a, const auto& next) {
                                                        seen.push_back("before");
                                                        next(a);
                                                        seen.push_back("after");
                                                    });
    EXPECT_TRUE(app.launch());
    app.enterBackground();
    EXPECT_EQ(seen, (std::vector<std::string>{"shell answered YES", "before", "after"}));
    EXPECT_EQ(takeCalls().at(3), "didEnterBackground (background)");
}

TEST(ApplicationBackgroundTasks, IdentifiersAreUniqueAndEndOnce) {
    ui::Application app;
    auto first = app.beginBackgroundTask("upload", nullptr);
    auto second = app.beginBackgroundTask("", nullptr);
    EXPECT_NE(first, ui::kBackgroundTaskInvalid);
    EXPECT_NE(second, ui::kBackgroundTaskInvalid);
    EXPECT_NE(first, second);
    EXPECT_EQ(app.runningBackgroundTaskCount(), 2u);

    EXPECT_TRUE(app.endBackgroundTask(first));
    EXPECT_FALSE(app.endBackgroundTask(first));
    EXPECT_FALSE(app.endBackgroundTask(ui::kBackgroundTaskInvalid));
    EXPECT_FALSE(app.isBackgroundTaskRunning(first));
    EXPECT_TRUE(app.isBackgroundTaskRunning(second));

    // An ended identifier is never handed out again.
    auto third = app.beginBackgroundTask("again", nullptr);
    EXPECT_NE(third, first);
    EXPECT_NE(third, second);
}

TEST(ApplicationBackgroundTasks, ExpiryRunsHandlersAndEndsEveryTask) {
    ui::Application app;
    std::vector<std::string> expired;
    ui::BackgroundTaskIdentifier polite = ui::kBackgroundTaskInvalid;
    ui::BackgroundTaskIdentifier replacement = ui::kBackgroundTaskInvalid;
    polite = app.beginBackgroundTask("polite", [&] {
        expired.push_back("polite");
        app.endBackgroundTask(polite);
        // Starting a new task while expiring does not lose it.
        replacement = app.beginBackgroundTask("replacement", nullptr);
    });
    app.beginBackgroundTask("careless", [&] { expired.push_back("careless"); });
    auto ended = app.beginBackgroundTask("ended", [&] { expired.push_back("ended"); });
    app.endBackgroundTask(ended);

    app.expireBackgroundTasks();
    EXPECT_EQ(expired, (std::vector<std::string>{"polite", "careless"}));
    EXPECT_EQ(app.runningBackgroundTaskCount(), 1u);
    EXPECT_TRUE(app.isBackgroundTaskRunning(replacement));
}

TEST(ApplicationRequests, RemoteNotificationRegistrationIsRecordedAndForwarded) {
    ui::Application app;
    auto delegate = std::make_shared<RecordingDelegate>(
        std::set<DelegateOp>{DelegateOp::DidRegisterForRemoteNotifications});
    app.setDelegate(delegate);
    app.registerForRemoteNotifications();
    EXPECT_EQ(app.remoteNotificationRegistrationCount(), 1u);
    // The push service answers through the delegate callbacks.
    app.setRemoteNotificationRegistrationHandler([&app] {
        app.deliver<DelegateOp::DidRegisterForRemoteNotifications>(ns::Data::fromString("tok"));
    });
    app.registerForRemoteNotifications();
    EXPECT_EQ(app.remoteNotificationRegistrationCount(), 2u);
    EXPECT_EQ(delegate->calls, std::vector<std::string>{"token tok"});
}

TEST(ApplicationRequests, OpenedURLsAreRecordedAndTheOpenerAnswers) {
    ui::Application app;
    EXPECT_TRUE(app.openURL(*ns::URL::parse("https://example.com/a")));
    app.setURLOpener([](const ns::URL& url) { return url.scheme() != "itms-apps"; });
    EXPECT_FALSE(app.openURL(*ns::URL::parse("itms-apps://store/app")));
    std::vector<std::string> opened;
    for (const auto& url : app.openedURLs()) opened.push_back(url.absoluteString());
    EXPECT_EQ(opened, (std::vector<std::string>{"https://example.com/a", "itms-apps://store/app"}));
}

}  // namespace
