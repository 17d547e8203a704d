#include "bridge/HYBAppDelegate.h"

#include <gtest/gtest.h>

#include "bridge/HYBPlugin.h"
#include "bridge/HYBViewController.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"
#include "tests/bridge/HostFixture.h"
#include "tests/support/LogCapture.h"

namespace {

class AppDelegateTest : public hosttest::HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        auto& center = ns::NotificationCenter::defaultCenter();
        tokens_.push_back(
            center.addObserver(HYBPluginHandleOpenURLNotification, nullptr,
                               [this](const ns::Notification& n) { urls.push_back(n.object); }));
        tokens_.push_back(center.addObserver(
            HYBPluginHandleOpenURLWithAppSourceAndAnnotationNotification, nullptr,
            [this](const ns::Notification& n) { details.push_back(n.object); }));
    }
    void TearDown() override {
        for (auto token : tokens_) ns::NotificationCenter::defaultCenter().removeObserver(token);
        if (delegate_.window()) delegate_.window()->setHidden(true);
        HostFixture::TearDown();
    }
    ns::Dictionary detailsAt(size_t i) const {
        auto box = std::dynamic_pointer_cast<ns::Box<ns::Dictionary>>(details.at(i));
        return box ? box->value() : ns::Dictionary{};
    }

    ui::Application application_;
    HYBAppDelegate delegate_;
    std::vector<std::shared_ptr<ns::Object>> urls;
    std::vector<std::shared_ptr<ns::Object>> details;

private:
    std::vector<ns::NotificationCenter::ObserverToken> tokens_;
};

TEST_F(AppDelegateTest, OpenURLWithoutAURLPostsNothingAndAnswersNo) {
    testsupport::LogCapture log;
    EXPECT_FALSE(delegate_.openURL(application_, std::nullopt, {}));
    EXPECT_TRUE(urls.empty());
    EXPECT_TRUE(details.empty());
    EXPECT_TRUE(log.contains("Asked to open an address that is no URL"));
}

TEST_F(AppDelegateTest, OpenURLAnnouncesTheURLAndItsDetails) {
    const auto url = *ns::URL::parse("myapp://open?x=1");
    EXPECT_TRUE(delegate_.openURL(application_, url, {}));
    ASSERT_EQ(urls.size(), 1u);
    EXPECT_EQ(std::dynamic_pointer_cast<ns::Box<ns::URL>>(urls[0])->value(), url);
    EXPECT_EQ(detailsAt(0), (ns::Dictionary{{"url", "myapp://open?x=1"}}));

    EXPECT_TRUE(delegate_.openURL(
        application_, url,
        {{ui::kApplicationOpenURLOptionsSourceApplicationKey, "org.example.other"},
         {ui::kApplicationOpenURLOptionsAnnotationKey, ns::Value::dict({{"k", 1}})},
         {"unrelated", true}}));
    EXPECT_EQ(detailsAt(1), (ns::Dictionary{{"url", "myapp://open?x=1"},
                                            {"sourceApplication", "org.example.other"},
                                            {"annotation", ns::Value::dict({{"k", 1}})}}));
}

TEST_F(AppDelegateTest, LaunchShowsTheControllerItWasGiven) {
    auto controller = HYBViewController::create();
    delegate_.setViewController(controller);
    EXPECT_TRUE(delegate_.didFinishLaunchingWithOptions(application_, {}));
    EXPECT_EQ(delegate_.viewController(), controller);
    ASSERT_TRUE(delegate_.window());
    EXPECT_EQ(delegate_.window()->rootViewController(), controller);
    EXPECT_TRUE(delegate_.window()->isKeyWindow());
    EXPECT_TRUE(delegate_.window()->autoresizesSubviews());
    EXPECT_TRUE(controller->webViewEngine());  // showing the window loaded the view
}

TEST_F(AppDelegateTest, LaunchWithoutAControllerMakesTheHostsOwn) {
    EXPECT_TRUE(delegate_.didFinishLaunchingWithOptions(application_, {}));
    ASSERT_TRUE(delegate_.viewController());
    EXPECT_EQ(delegate_.window()->rootViewController(), delegate_.viewController());
    EXPECT_EQ(delegate_.supportedInterfaceOrientationsForWindow(application_, delegate_.window()),
              30u);
}

}  // namespace
