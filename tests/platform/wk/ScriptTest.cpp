#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ns/Exception.h"
#include "platform/wk/WebKitError.h"
#include "tests/platform/wk/WebViewFixture.h"

namespace {

using ::testing::ElementsAre;
using wktest::url;

class Recorder : public wk::ScriptMessageHandler {
public:
    std::vector<wk::ScriptMessage> messages;
    std::vector<wk::UserContentController*> controllers;
    void didReceiveScriptMessage(wk::UserContentController& controller,
                                 const wk::ScriptMessage& message) override {
        controllers.push_back(&controller);
        messages.push_back(message);
    }
};

class ScriptTest : public wktest::WebViewTest {
protected:
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

TEST_F(ScriptTest, PostedMessagesReachTheHandlerOfTheirName) {
    configuration->userContentController()->addScriptMessageHandler(recorder, "bridge");
    auto view = makeWebView();
    view->loadRequest(wk::URLRequest(url("https://page.test/")));
    loop().runUntilIdle();
    auto fake = engine(view);

    EXPECT_TRUE(fake->postMessageJSON("bridge", R"(["cb1","Echo","echo",[1,true,"x"]])"));
    EXPECT_TRUE(fake->postMessage("bridge", "plain text", false));
    EXPECT_FALSE(fake->postMessage("other", 1)) << "the page has no handler of that name";
    EXPECT_TRUE(recorder->messages.empty());
    loop().runUntilIdle();

    ASSERT_EQ(recorder->messages.size(), 2u);
    const auto& first = recorder->messages[0];
    EXPECT_EQ(first.name, "bridge");
    EXPECT_EQ(first.body,
              ns::Value::array({"cb1", "Echo", "echo", ns::Value::array({1, true, "x"})}));
    EXPECT_TRUE(first.body.at(3).at(1).isBool());
    EXPECT_EQ(first.webView.lock(), view);
    EXPECT_TRUE(first.frameInfo.isMainFrame);
    EXPECT_EQ(first.frameInfo.request.url(), url("https://page.test/"));
    EXPECT_EQ(recorder->controllers[0], configuration->userContentController().get());
    EXPECT_EQ(recorder->messages[1].body, ns::Value("plain text"));
    EXPECT_FALSE(recorder->messages[1].frameInfo.isMainFrame);

    EXPECT_THROW(fake->postMessageJSON("bridge", "{not json"), ns::Exception);
}

TEST_F(ScriptTest, HandlerNamesAreUniqueAndRemovable) {
    auto controller = configuration->userContentController();
    controller->addScriptMessageHandler(recorder, "bridge");
    EXPECT_TRUE(controller->hasScriptMessageHandler("bridge"));
    EXPECT_THROW(controller->addScriptMessageHandler(std::make_shared<Recorder>(), "bridge"),
                 ns::Exception);
    EXPECT_EQ(controller->scriptMessageHandler("bridge"), recorder);

    auto view = makeWebView();  // shares the controller with the configuration
    controller->removeScriptMessageHandler("bridge");
    EXPECT_FALSE(engine(view)->postMessage("bridge", 1));
    loop().runUntilIdle();
    EXPECT_TRUE(recorder->messages.empty());
}

TEST_F(ScriptTest, MessageRemovedBeforeDeliveryIsDropped) {
    configuration->userContentController()->addScriptMessageHandler(recorder, "bridge");
    auto view = makeWebView();
    EXPECT_TRUE(engine(view)->postMessage("bridge", 1));
    configuration->userContentController()->removeScriptMessageHandler("bridge");
    loop().runUntilIdle();
    EXPECT_TRUE(recorder->messages.empty());
}

TEST_F(ScriptTest, CustomUserAgentReachesTheEngine) {
    auto view = makeWebView();
    view->setCustomUserAgent("Agent/1");
    EXPECT_EQ(engine(view)->customUserAgent(), "Agent/1");
    view->setCustomUserAgent(std::nullopt);
    EXPECT_EQ(engine(view)->customUserAgent(), std::nullopt);
}

TEST_F(ScriptTest, WebViewGoingAwayStopsPageEvents) {
    configuration->userContentController()->addScriptMessageHandler(recorder, "bridge");
    auto view = makeWebView();
    auto fake = engine(view);
    fake->postMessage("bridge", 1);
    view.reset();
    loop().runUntilIdle();
    EXPECT_TRUE(recorder->messages.empty());
}

}  // namespace
