#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/platform/wk/WebViewFixture.h"
#include "tests/support/LogCapture.h"

namespace {

using ::testing::ElementsAre;

// Answers dialogs as a user would, or keeps their handlers.
class Dialogs : public wk::UIDelegate {
public:
    std::vector<std::string> shown;
    bool confirmAnswer = true;
    std::optional<std::string> promptAnswer;
    bool keep = false;
    std::vector<std::function<void()>> keptAlerts;

    void runJavaScriptAlertPanel(const std::shared_ptr<wk::WebView>&, const std::string& message,
                                 const wk::FrameInfo&, std::function<void()> done) override {
        shown.push_back("alert " + message);
        if (keep) {
            keptAlerts.push_back(done);
        } else {
            done();
        }
    }
    void runJavaScriptConfirmPanel(const std::shared_ptr<wk::WebView>&, const std::string& message,
                                   const wk::FrameInfo&, std::function<void(bool)> done) override {
        shown.push_back("confirm " + message);
        if (!keep) done(confirmAnswer);
    }
    void runJavaScriptTextInputPanel(
        const std::shared_ptr<wk::WebView>&, const std::string& prompt,
        const std::optional<std::string>& defaultText, const wk::FrameInfo&,
        std::function<void(std::optional<std::string>)> done) override {
        shown.push_back("prompt " + prompt + " [" + defaultText.value_or("none") + "]");
        if (!keep) done(promptAnswer);
    }
};

class DialogTest : public wktest::WebViewTest {
protected:
    std::shared_ptr<Dialogs> dialogs = std::make_shared<Dialogs>();
};

TEST_F(DialogTest, TheUIDelegateAnswersEachDialog) {
    auto view = makeWebView();
    view->setUIDelegate(dialogs);
    auto fake = engine(view);
    auto alert = fake->alert("hi");
    auto yes = fake->confirm("sure?");
    dialogs->promptAnswer = "";
    auto emptied = fake->prompt("name?", "abc");
    EXPECT_FALSE(alert->answered) << "the page's dialog opens on a later turn";
    loop().runUntilIdle();
    dialogs->confirmAnswer = false;
    dialogs->promptAnswer = std::nullopt;
    auto no = fake->confirm("really?");
    auto cancelled = fake->prompt("again?", std::nullopt);
    loop().runUntilIdle();

    EXPECT_THAT(dialogs->shown, ElementsAre("alert hi", "confirm sure?", "prompt name? [abc]",
                                            "confirm really?", "prompt again? [none]"));
    EXPECT_TRUE(alert->answered);
    EXPECT_TRUE(yes->answered && yes->confirmed);
    EXPECT_TRUE(no->answered && !no->confirmed);
    EXPECT_TRUE(emptied->answered);
    EXPECT_EQ(emptied->text, "");
    EXPECT_TRUE(cancelled->answered);
    EXPECT_EQ(cancelled->text, std::nullopt);
}

TEST_F(DialogTest, WithoutADelegateDialogsAreDismissedAtOnce) {
    auto view = makeWebView();
    auto fake = engine(view);
    auto c = fake->confirm("?");
    auto p = fake->prompt("?", "default");
    loop().runUntilIdle();
    EXPECT_TRUE(c->answered);
    EXPECT_FALSE(c->confirmed);
    EXPECT_TRUE(p->answered);
    EXPECT_EQ(p->text, std::nullopt);
}

TEST_F(DialogTest, ADroppedHandlerGivesTheDismissedAnswerAndIsLogged) {
    testsupport::LogCapture log;
    log.expect("was not called");
    auto view = makeWebView();
    view->setUIDelegate(dialogs);
    dialogs->keep = true;
    auto c = engine(view)->confirm("?");
    auto p = engine(view)->prompt("?", "x");
    loop().runUntilIdle();  // the delegate drops both handlers without calling them
    EXPECT_TRUE(c->answered);
    EXPECT_FALSE(c->confirmed);
    EXPECT_TRUE(p->answered);
    EXPECT_EQ(p->text, std::nullopt);
    EXPECT_EQ(log.count("was not called"), 2u);
}

TEST_F(DialogTest, AHandlerCalledTwiceAnswersOnce) {
    testsupport::LogCapture log;
    log.expect("was called more than once");
    auto view = makeWebView();
    view->setUIDelegate(dialogs);
    dialogs->keep = true;
    auto a = engine(view)->alert("x");
    loop().runUntilIdle();
    ASSERT_EQ(dialogs->keptAlerts.size(), 1u);
    dialogs->keptAlerts[0]();
    dialogs->keptAlerts[0]();
    EXPECT_TRUE(a->answered);
    EXPECT_EQ(log.count("was called more than once"), 1u);
}

}  // namespace
