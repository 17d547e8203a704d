#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>

#include "bridge/HYBViewController.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "bridge/HYBWebViewUIDelegate.h"
#include "platform/gtk/WebKitGtkEngine.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Application.h"
#include "platform/wk/WebView.h"
#include "tests/e2e/E2EHost.h"
#include "tests/support/LogCapture.h"
#include "tests/support/NsPrinters.h"

namespace {

std::vector<std::string> eventsSince(size_t from) {
    auto& host = E2EHost::shared();
    std::vector<std::string> events;
    for (size_t i = from; i < host.reportCount(); ++i) {
        const auto& event = host.reports()[i].body["event"];
        if (event.isString()) events.push_back(*event.string());
    }
    return events;
}

// The application's life cycle reaches the page as document events, in order.
TEST(PageLife, LifeCycleEventsReachThePage) {
    auto& host = E2EHost::shared();
    auto& application = ui::Application::shared();
    const size_t from = host.reportCount();
    application.enterBackground();  // resigns first
    ASSERT_TRUE(host.waitForEvent(from, "pause"));
    application.becomeActive();  // enters the foreground first
    ASSERT_TRUE(host.waitForEvent(from, "active"));
    // "pause" is dispatched at once, before the application is suspended, "resign" on one of
    // the page's next turns: they may come in either order.
    auto events = eventsSince(from);
    ASSERT_EQ(events.size(), 4u);
    std::sort(events.begin(), events.begin() + 2);
    EXPECT_EQ(events, (std::vector<std::string>{"pause", "resign", "resume", "active"}));
}

// The dialogs shown on the display for the page's questions (none once they are answered).
std::vector<GtkWidget*> messageDialogs() {
    std::vector<GtkWidget*> dialogs;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item; item = item->next) {
        auto* widget = static_cast<GtkWidget*>(item->data);
        if (GTK_IS_MESSAGE_DIALOG(widget) && gtk_widget_get_visible(widget)) {
            dialogs.push_back(widget);
        }
    }
    g_list_free(toplevels);
    return dialogs;
}

GtkWidget* entryOf(GtkWidget* dialog) {
    GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog));
    GList* children = gtk_container_get_children(GTK_CONTAINER(area));
    GtkWidget* entry = nullptr;
    for (GList* item = children; item; item = item->next) {
        if (GTK_IS_ENTRY(item->data)) entry = GTK_WIDGET(item->data);
    }
    g_list_free(children);
    return entry;
}

std::shared_ptr<ui::AlertController> waitForAlert(const std::string& message) {
    std::shared_ptr<ui::AlertController> alert;
    E2EHost::shared().runUntil([&] {
        alert = ui::AlertController::topmost();
        return alert && !alert->isPressed() && alert->message() == message;
    });
    return alert && alert->message() == message ? alert : nullptr;
}

ns::Value dialogAnswer(size_t from) {
    auto report = E2EHost::shared().waitForReport(
        from, [](const E2EHost::Report& r) { return r.body.find("dialog") != nullptr; });
    return report ? report->body["answer"] : ns::Value("no answer");
}

// The page's dialogs wait for the native alert's buttons; the page then goes on with the
// answer.
TEST(PageLife, DialogsAnswerWithTheButtonPressed) {
    auto& host = E2EHost::shared();
    struct Case {
        const char* kind;
        const char* button;
        std::optional<std::string> typed;
        ns::Value answer;
    };
    const Case cases[] = {
        {"alert", "OK", std::nullopt, ns::Value()},
        {"confirm", "OK", std::nullopt, ns::Value(true)},
        {"confirm", "Cancel", std::nullopt, ns::Value(false)},
        {"prompt", "OK", "E2E", ns::Value("E2E")},
        {"prompt", "OK", "", ns::Value("")},
        {"prompt", "Cancel", "ignored", ns::Value()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " " + c.button);
        const size_t from = host.reportCount();
        host.run(std::string("e2e.dialog('") + c.kind + "', 'Question?', 'World')");
        auto alert = waitForAlert("Question?");
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->title(), "End to End");
        if (std::string(c.kind) == "prompt") {
            ASSERT_EQ(alert->textFields().size(), 1u);
            EXPECT_EQ(alert->textFields()[0]->text(), "World");
            alert->textFields()[0]->setText(*c.typed);
        }
        ASSERT_TRUE(alert->press(c.button));
        EXPECT_EQ(dialogAnswer(from), c.answer);
        EXPECT_TRUE(messageDialogs().empty());
    }
}

// A person at the display answers in the window's own dialog, which shows the same question.
TEST(PageLife, DialogsAreAnsweredOnTheDisplay) {
    auto& host = E2EHost::shared();
    size_t from = host.reportCount();
    host.run("e2e.dialog('prompt', 'Name?', 'World')");
    ASSERT_TRUE(host.runUntil([] { return messageDialogs().size() == 1; }));
    GtkWidget* dialog = messageDialogs().front();
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dialog)), "End to End");
    GtkWidget* entry = entryOf(dialog);
    ASSERT_TRUE(entry);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(entry)), "World");
    gtk_entry_set_text(GTK_ENTRY(entry), "typed");
    gtk_dialog_response(GTK_DIALOG(dialog), 0);  // "OK"
    EXPECT_EQ(dialogAnswer(from), ns::Value("typed"));
    EXPECT_TRUE(messageDialogs().empty());

    // Closing the dialog cancels.
    from = host.reportCount();
    host.run("e2e.dialog('confirm', 'Sure?')");
    ASSERT_TRUE(host.runUntil([] { return messageDialogs().size() == 1; }));
    gtk_dialog_response(GTK_DIALOG(messageDialogs().front()), GTK_RESPONSE_DELETE_EVENT);
    EXPECT_EQ(dialogAnswer(from), ns::Value(false));
    EXPECT_TRUE(messageDialogs().empty());
}

// Runs the script in the main page and waits for the new window it opens to be ready.
std::weak_ptr<wk::WebView> openWindow(const std::string& script) {
    auto& host = E2EHost::shared();
    const size_t from = host.reportCount();
    host.run(script);
    auto ready = host.waitForReport(from, [&](const E2EHost::Report& r) {
        return r.body["event"] == ns::Value("deviceready") && r.webView.lock() != host.webView();
    });
    if (ready) EXPECT_EQ(ready->body["url"], ns::Value("app://localhost/popup.html"));
    return ready ? ready->webView : std::weak_ptr<wk::WebView>();
}

// A page's new window is a web view of its own: its pages report as that view, its page
// calls are refused, and window.close() takes it away again.
TEST(PageLife, NewWindowsOpenAndClose) {
    auto& host = E2EHost::shared();
    testsupport::LogCapture log;
    const size_t from = host.reportCount();
    std::weak_ptr<wk::WebView> popup = openWindow("window.open('popup.html')");
    ASSERT_FALSE(popup.expired());
    auto uiDelegate = std::dynamic_pointer_cast<HYBWebViewUIDelegate>(host.webView()->uiDelegate());
    ASSERT_TRUE(uiDelegate);
    EXPECT_EQ(uiDelegate->windows().size(), 1u);

    popup.lock()->evaluateJavaScript("e2e.call('fromPopup', 'Probe', 'echo', ['x'])");
    ASSERT_TRUE(host.runUntil([&] {
        return log.contains("Refused a page call from a web view other than the main one.");
    }));

    popup.lock()->evaluateJavaScript("window.close()");
    ASSERT_TRUE(host.runUntil([&] { return popup.expired(); }));
    EXPECT_TRUE(uiDelegate->windows().empty());
    for (size_t i = from; i < host.reportCount(); ++i) {
        EXPECT_NE(host.reports()[i].body["call"], ns::Value("fromPopup"));
    }
}

// A link with a new-window target opens a window too; closing that window on the display
// closes it as the page would.
TEST(PageLife, NewWindowsFromLinksCloseWithTheirWindow) {
    auto& host = E2EHost::shared();
    std::weak_ptr<wk::WebView> popup = openWindow("e2e.click('popup.html', '_blank')");
    ASSERT_FALSE(popup.expired());
    EXPECT_EQ(host.webView()->URL()->absoluteString(), "app://localhost/index.html");

    auto engine = std::dynamic_pointer_cast<wk::WebKitGtkEngine>(popup.lock()->engine());
    ASSERT_TRUE(engine);
    gtk_window_close(GTK_WINDOW(engine->window()));
    engine.reset();
    ASSERT_TRUE(host.runUntil([&] { return popup.expired(); }));
}

// When the web content process goes, the host loads the page again in a new one.
TEST(PageLife, ACrashedPageIsReloaded) {
    auto& host = E2EHost::shared();
    const size_t from = host.reportCount();
    host.engine()->terminateWebProcess();
    ASSERT_TRUE(host.waitForEvent(from, "deviceready"));
    EXPECT_EQ(host.webView()->URL()->absoluteString(), "app://localhost/index.html");
    const auto answers = host.call("Probe", "echo", "['after the crash']");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0]["value"], ns::Value("after the crash"));
}

}  // namespace
