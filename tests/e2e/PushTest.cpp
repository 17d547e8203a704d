#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ui/Application.h"
#include "plugins/push/NCMPlugin.h"
#include "plugins/push/NCMPushSink.h"
#include "tests/e2e/E2EHost.h"
#include "tests/support/NsPrinters.h"

namespace {

// What the push plug-in writes into the page is read by the real engine as the value it
// stands for: quotes, backslashes, line and paragraph separators and script-closing text in a
// token or a message never break the call or run as code; bytes arrive as Base64 text.
TEST(Push, TokensAndMessagesReachThePageFunctionsIntact) {
    auto& host = E2EHost::shared();
    host.run(R"(window.NCMPlugin = {
        onNotificationReceived: function (m) { e2e.report({ push: m }); },
        onTokenRefreshReceived: function (t) { e2e.report({ token: t }); }
    };)");
    auto answers = host.call("NCMPlugin", "ready", "[]");
    ASSERT_EQ(answers.size(), 1u);
    // The push road the application delegate hands its pushes to.
    auto delegate = std::dynamic_pointer_cast<AppDelegate>(ui::Application::shared().delegate());
    ASSERT_TRUE(delegate);
    const auto& page = delegate->pushSink();
    ASSERT_TRUE(page->isPageReady());

    const std::string token =
        "a'); e2e.report({ injected: 1 }); ('\\\"\n\xE2\x80\xA8\xE2\x80\xA9</script>";
    size_t from = host.reportCount();
    page->notifyOfTokenRefresh(token);
    auto report = host.waitForReport(
        from, [](const E2EHost::Report& r) { return r.body.find("token") != nullptr; });
    ASSERT_TRUE(report);
    EXPECT_EQ(report->body["token"], ns::Value(token));

    ns::Dictionary message{{"text", ns::Value(token)},
                           {"bytes", ns::Value(ns::Data::fromString("\x01\xFF"))},
                           {"aps", ns::Value::dict({{"alert", ns::Value("hi")}})}};
    from = host.reportCount();
    page->holdPush(NCMPlugin::messageJSON(message));
    host.call("NCMPlugin", "registerNotification", "[]");
    report = host.waitForReport(
        from, [](const E2EHost::Report& r) { return r.body.find("push") != nullptr; });
    ASSERT_TRUE(report);
    EXPECT_EQ(report->body["push"]["text"], ns::Value(token));
    EXPECT_EQ(report->body["push"]["bytes"], ns::Value("Af8="));
    EXPECT_EQ(report->body["push"]["aps"]["alert"], ns::Value("hi"));
    for (size_t i = from; i < host.reportCount(); ++i) {
        EXPECT_EQ(host.reports()[i].body.find("injected"), nullptr);
    }
}

}  // namespace
