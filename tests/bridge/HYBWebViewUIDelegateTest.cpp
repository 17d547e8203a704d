#include "bridge/HYBWebViewUIDelegate.h"

#include <gtest/gtest.h>

#include "platform/ui/AlertController.h"
#include "platform/ui/Window.h"
#include "tests/bridge/HostFixture.h"

namespace {

class UIDelegateTest : public hosttest::HostFixture {
protected:
    std::shared_ptr<HYBWebViewUIDelegate> delegate() const {
        return std::dynamic_pointer_cast<HYBWebViewUIDelegate>(engine()->uiDelegate());
    }
    std::shared_ptr<ui::AlertController> shownAlert() {
        loop().runUntilIdle();
        return ui::AlertController::topmost();
    }
    ns::URL otherPage() const { return ns::URL::fileURLWithPath(bundlePath() + "/www/other.html"); }
    // Starts with new windows allowed and opens one from the page.
    void openWindow() {
        writeConfig(R"(<preference name="AllowNewWindows" value="true"/>)");
        writeFile("www/other.html", "<title>Other</title>");
        start();
        page().navigate(otherPage(), wk::NavigationType::LinkActivated,
                        wk::FakeEngine::Target::NewWindow);
    }
    std::vector<std::string> buttons(const ui::AlertController& alert) const {
        std::vector<std::string> titles;
        for (const auto& action : alert.actions()) titles.push_back(action->title());
        return titles;
    }
};

TEST_F(UIDelegateTest, AlertShowsTheAppNameAndAnswersOnOK) {
    start();
    auto answer = page().alert("Hello");
    auto alert = shownAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), "Test App");
    EXPECT_EQ(alert->message(), "Hello");
    EXPECT_EQ(buttons(*alert), std::vector<std::string>{"OK"});
    EXPECT_FALSE(answer->answered);
    alert->press("OK");
    loop().runUntilIdle();
    EXPECT_TRUE(answer->answered);
    EXPECT_FALSE(ui::AlertController::topmost());
}

TEST_F(UIDelegateTest, ConfirmAnswersTrueForOKAndFalseForCancel) {
    start();
    auto ok = page().confirm("Proceed?");
    auto alert = shownAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(buttons(*alert), (std::vector<std::string>{"OK", "Cancel"}));
    alert->press("OK");
    loop().runUntilIdle();
    EXPECT_TRUE(ok->answered);
    EXPECT_TRUE(ok->confirmed);

    auto cancel = page().confirm("Proceed?");
    shownAlert()->press("Cancel");
    loop().runUntilIdle();
    EXPECT_TRUE(cancel->answered);
    EXPECT_FALSE(cancel->confirmed);
}

TEST_F(UIDelegateTest, PromptAnswersTheFieldOrNull) {
    start();
    auto typed = page().prompt("Name?", "World");
    auto alert = shownAlert();
    ASSERT_TRUE(alert);
    ASSERT_EQ(alert->textFields().size(), 1u);
    EXPECT_EQ(alert->textFields()[0]->text(), "World");
    alert->textFields()[0]->setText("");
    alert->press("OK");
    loop().runUntilIdle();
    EXPECT_EQ(typed->text, std::optional<std::string>(""));

    auto cancelled = page().prompt("Name?", std::nullopt);
    shownAlert()->press("Cancel");
    loop().runUntilIdle();
    EXPECT_TRUE(cancelled->answered);
    EXPECT_FALSE(cancelled->text);
}

TEST_F(UIDelegateTest, DialogsHaveNoTitleWithoutADisplayName) {
    writeInfoPlist("");
    start();
    page().alert("x");
    auto alert = shownAlert();
    ASSERT_TRUE(alert);
    EXPECT_FALSE(alert->title());
    alert->press("OK");
}

TEST_F(UIDelegateTest, DialogThatCannotBeShownIsAnsweredAsDismissed) {
    start();
    ui::Window::keyWindow()->setHidden(true);
    auto alert = page().alert("x");
    auto confirm = page().confirm("y");
    auto prompt = page().prompt("z", "default");
    loop().runUntilIdle();
    EXPECT_TRUE(alert->answered);
    EXPECT_TRUE(confirm->answered);
    EXPECT_FALSE(confirm->confirmed);
    EXPECT_TRUE(prompt->answered);
    EXPECT_FALSE(prompt->text);
}

TEST_F(UIDelegateTest, DialogDismissedWithoutAButtonIsAnsweredOnce) {
    start();
    auto confirm = page().confirm("y");
    {
        auto alert = shownAlert();
        ASSERT_TRUE(alert);
        alert->dismissViewController(false);
    }
    loop().runUntilIdle();
    EXPECT_TRUE(confirm->answered);
    EXPECT_FALSE(confirm->confirmed);
}

TEST_F(UIDelegateTest, DialogOfAnExtraWindowShowsAboveIt) {
    openWindow();
    loop().runUntilIdle();
    ASSERT_EQ(delegate()->windows().size(), 1u);
    auto popup = std::dynamic_pointer_cast<wk::WebView>(delegate()->windows()[0]->view());
    auto answer = wk::FakeEngine::of(*popup)->confirm("From the window");
    auto alert = shownAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->message(), "From the window");
    alert->press("OK");
    loop().runUntilIdle();
    EXPECT_TRUE(answer->confirmed);
}

TEST_F(UIDelegateTest, WithoutNewWindowsALinkOpensInTheWebViewItself) {
    writeFile("www/other.html", "<title>Other</title>");
    start();
    const auto other = otherPage();
    page().navigate(other, wk::NavigationType::LinkActivated, wk::FakeEngine::Target::NewWindow);
    loop().runUntilIdle();
    EXPECT_TRUE(delegate()->windows().empty());
    EXPECT_EQ(page().url(), other);
}

TEST_F(UIDelegateTest, NewWindowClosesItselfOnce) {
    openWindow();
    loop().runUntilIdle();
    ASSERT_EQ(delegate()->windows().size(), 1u);
    auto controller = delegate()->windows()[0];
    auto popup = std::dynamic_pointer_cast<wk::WebView>(controller->view());
    EXPECT_EQ(controller->modalPresentationStyle(), ui::ModalPresentationStyle::OverCurrentContext);
    EXPECT_EQ(controller->presentingViewController(), controller_);
    EXPECT_EQ(popup->navigationDelegate(), webView()->navigationDelegate());
    EXPECT_EQ(wk::FakeEngine::of(*popup)->url(), otherPage());

    wk::FakeEngine::of(*popup)->closeWindow();
    loop().runUntilIdle();
    EXPECT_TRUE(delegate()->windows().empty());
    EXPECT_FALSE(controller_->presentedViewController());
    delegate()->webViewDidClose(popup);  // a second close changes nothing
    EXPECT_TRUE(delegate()->windows().empty());
}

}  // namespace
