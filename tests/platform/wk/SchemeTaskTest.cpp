#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ns/Exception.h"
#include "platform/wk/URLSchemeTask.h"
#include "platform/wk/WebKitError.h"
#include "tests/platform/wk/WebViewFixture.h"
#include "tests/support/LogCapture.h"

namespace {

using ::testing::ElementsAre;
using wktest::url;

// Serves "/index.html" and "/app.js" at once; every other path is 404. Keeps what it saw.
class FileHandler : public wk::URLSchemeHandler {
public:
    std::vector<std::string> started;
    int stopped = 0;
    void startURLSchemeTask(const std::shared_ptr<wk::WebView>&,
                            const std::shared_ptr<wk::URLSchemeTask>& task) override {
        const auto& u = task->request().url();
        started.push_back(task->request().HTTPMethod() + " " + u.absoluteString());
        std::string path = u.path();
        bool found = path == "/index.html" || path == "/app.js";
        std::string type = path == "/app.js" ? "text/javascript" : "text/html";
        task->didReceiveResponse(std::make_shared<const wk::HTTPURLResponse>(
            u, found ? 200 : 404, "HTTP/1.1",
            net::HTTPHeaderFields{{"Content-Type", type}, {"Cache-Control", "no-cache"}}));
        if (found) {
            task->didReceiveData(ns::Data::fromString(path == "/app.js" ? "run();" : "<title>"));
            task->didReceiveData(ns::Data::fromString(path == "/app.js" ? "" : "App</title>"));
        }
        task->didFinish();
    }
    void stopURLSchemeTask(const std::shared_ptr<wk::WebView>&,
                           const std::shared_ptr<wk::URLSchemeTask>&) override {
        ++stopped;
    }
};

// Keeps its tasks for the test to answer.
class LaterHandler : public wk::URLSchemeHandler {
public:
    std::vector<std::shared_ptr<wk::URLSchemeTask>> tasks;
    std::vector<std::shared_ptr<wk::URLSchemeTask>> stopped;
    void startURLSchemeTask(const std::shared_ptr<wk::WebView>&,
                            const std::shared_ptr<wk::URLSchemeTask>& task) override {
        tasks.push_back(task);
    }
    void stopURLSchemeTask(const std::shared_ptr<wk::WebView>&,
                           const std::shared_ptr<wk::URLSchemeTask>& task) override {
        stopped.push_back(task);
    }
};

class SchemeTaskTest : public wktest::WebViewTest {
protected:
    // A web view whose "app" scheme is served by a handler that answers when the test says.
    std::shared_ptr<wk::WebView> viewServedLater() {
        configuration->setURLSchemeHandler(later, "app");
        return makeWebView();
    }
    // A fetch of that URL in such a web view, the handler holding its task.
    std::pair<std::shared_ptr<wk::WebView>, std::shared_ptr<const wk::FakeEngine::Fetch>>
    fetchServedLater(std::string_view target) {
        auto view = viewServedLater();
        auto fetch = engine(view)->fetch(url(target));
        loop().runUntilIdle();
        return {view, fetch};
    }
    std::shared_ptr<LaterHandler> later = std::make_shared<LaterHandler>();
};

TEST_F(SchemeTaskTest, FetchCollectsTheHandlersAnswer) {
    auto handler = std::make_shared<FileHandler>();
    configuration->setURLSchemeHandler(handler, "app");
    auto view = makeWebView();
    auto ok = engine(view)->fetch(url("app://localhost/app.js"));
    auto missing = engine(view)->fetch(url("app://localhost/missing.js"), "HEAD");
    loop().runUntilIdle();

    EXPECT_THAT(handler->started,
                ElementsAre("GET app://localhost/app.js", "HEAD app://localhost/missing.js"));
    ASSERT_TRUE(ok->response);
    ASSERT_TRUE(ok->response->http());
    EXPECT_EQ(ok->response->http()->statusCode(), 200);
    EXPECT_EQ(ok->response->MIMEType(), "text/javascript");
    EXPECT_EQ(ok->response->http()->valueForHTTPHeaderField("cache-control"), "no-cache");
    EXPECT_EQ(ok->body.chars(), "run();");
    EXPECT_TRUE(ok->finished);
    EXPECT_FALSE(ok->error);

    ASSERT_TRUE(missing->response);
    ASSERT_TRUE(missing->response->http());
    EXPECT_EQ(missing->response->http()->statusCode(), 404);
    EXPECT_TRUE(missing->body.empty());
    EXPECT_TRUE(missing->finished);
}

TEST_F(SchemeTaskTest, FetchWithoutAHandlerFailsAsUnsupported) {
    auto view = makeWebView();
    auto f = engine(view)->fetch(url("nope://x/y"));
    loop().runUntilIdle();
    ASSERT_TRUE(f->error);
    EXPECT_EQ(f->error->domain(), wk::kURLErrorDomain);
    EXPECT_EQ(f->error->code(), wk::kURLErrorUnsupportedURL);
    EXPECT_FALSE(f->task);
}

TEST_F(SchemeTaskTest, OutOfOrderAndLateCallsAreLoggedAndIgnored) {
    testsupport::LogCapture log;
    log.expect("No response has been sent for this task");
    log.expect("A response has already been sent for this task");
    log.expect("This task has already been completed");
    auto [view, f] = fetchServedLater("app://localhost/a");
    auto& handler = later;
    auto fake = engine(view);
    ASSERT_EQ(handler->tasks.size(), 1u);
    auto task = handler->tasks[0];

    task->didReceiveData(ns::Data::fromString("early"));  // before a response
    task->didFinish();                                    // before a response
    auto response = std::make_shared<const wk::URLResponse>(url("app://localhost/a"), "text/plain",
                                                            4, std::nullopt);
    task->didReceiveResponse(response);
    task->didReceiveResponse(response);  // twice
    task->didReceiveData(ns::Data::fromString("body"));
    task->didFinish();
    task->didReceiveData(ns::Data::fromString("late"));  // after finishing
    task->didFailWithError(ns::Error("x", 1));

    EXPECT_EQ(f->body.chars(), "body");
    EXPECT_TRUE(f->finished);
    EXPECT_FALSE(f->error);
    EXPECT_FALSE(f->response->http());
    EXPECT_EQ(f->response->expectedContentLength(), 4);
    EXPECT_EQ(log.count("No response has been sent for this task"), 2u);
    EXPECT_EQ(log.count("A response has already been sent for this task"), 1u);
    EXPECT_EQ(log.count("This task has already been completed"), 2u);
}

TEST_F(SchemeTaskTest, CancelledFetchStopsTheHandlerAndLaterAnswersAreIgnored) {
    testsupport::LogCapture log;
    log.expect("This task has already been stopped");
    auto [view, f] = fetchServedLater("app://localhost/a");
    auto& handler = later;
    auto fake = engine(view);
    fake->cancelFetch(f);
    fake->cancelFetch(f);  // once only
    loop().runUntilIdle();
    ASSERT_EQ(handler->stopped.size(), 1u);
    EXPECT_EQ(handler->stopped[0], handler->tasks[0]);
    EXPECT_TRUE(handler->tasks[0]->isStopped());

    handler->tasks[0]->didReceiveResponse(std::make_shared<const wk::HTTPURLResponse>(
        url("app://localhost/a"), 200, "HTTP/1.1", net::HTTPHeaderFields{}));
    handler->tasks[0]->didFinish();
    EXPECT_FALSE(f->response);
    EXPECT_FALSE(f->finished);
    EXPECT_EQ(log.count("This task has already been stopped"), 2u);
}

TEST_F(SchemeTaskTest, DocumentsOfACustomSchemeLoadThroughItsHandler) {
    auto handler = std::make_shared<FileHandler>();
    configuration->setURLSchemeHandler(handler, "app");
    auto view = makeWebView();
    view->loadRequest(wk::URLRequest(url("app://localhost/index.html")));
    loop().runUntilIdle();
    EXPECT_THAT(navigation->events, ElementsAre("decide app://localhost/index.html", "start -",
                                                "commit app://localhost/index.html",
                                                "finish app://localhost/index.html"));
    EXPECT_EQ(view->title(), "App");

    // An HTTP error is still a page: the navigation finishes.
    navigation->events.clear();
    view->loadRequest(wk::URLRequest(url("app://localhost/nothing.html")));
    loop().runUntilIdle();
    EXPECT_EQ(navigation->events.back(), "finish app://localhost/nothing.html");
    EXPECT_EQ(view->title(), "");

    // A scheme's letter case does not matter for finding the handler.
    view->loadRequest(wk::URLRequest(url("APP://localhost/index.html")));
    loop().runUntilIdle();
    EXPECT_EQ(handler->started.back(), "GET APP://localhost/index.html");
}

TEST_F(SchemeTaskTest, HandlerFailuresFailTheNavigation) {
    auto view = viewServedLater();
    auto& handler = later;
    ns::Error broken("Handler", 7);

    view->loadRequest(wk::URLRequest(url("app://localhost/a.html")));
    loop().runUntilIdle();
    handler->tasks.at(0)->didFailWithError(broken);
    loop().runUntilIdle();
    EXPECT_EQ(navigation->events.back(), "failProvisional 7 -");

    view->loadRequest(wk::URLRequest(url("app://localhost/b.html")));
    loop().runUntilIdle();
    auto task = handler->tasks.at(1);
    task->didReceiveResponse(
        std::make_shared<const wk::URLResponse>(task->request().url(), "text/html", -1, "utf-8"));
    loop().runUntilIdle();
    EXPECT_EQ(navigation->events.back(), "commit app://localhost/b.html");
    task->didFailWithError(broken);
    loop().runUntilIdle();
    EXPECT_EQ(navigation->events.back(), "fail 7 app://localhost/b.html");
    EXPECT_TRUE(handler->stopped.empty()) << "a task that failed itself is not stopped";
}

TEST_F(SchemeTaskTest, StoppingANavigationStopsItsTask) {
    auto view = viewServedLater();
    auto& handler = later;
    view->loadRequest(wk::URLRequest(url("app://localhost/a.html")));
    loop().runUntilIdle();
    view->stopLoading();
    loop().runUntilIdle();
    ASSERT_EQ(handler->stopped.size(), 1u);
    EXPECT_EQ(handler->stopped[0], handler->tasks[0]);
    EXPECT_EQ(navigation->events.back(), "failProvisional -999 -");
}

TEST_F(SchemeTaskTest, ConfigurationRefusesBuiltInAndRepeatedSchemes) {
    auto handler = std::make_shared<LaterHandler>();
    EXPECT_THROW(configuration->setURLSchemeHandler(handler, "https"), ns::Exception);
    EXPECT_THROW(configuration->setURLSchemeHandler(handler, "File"), ns::Exception);
    configuration->setURLSchemeHandler(handler, "myapp");
    EXPECT_THROW(configuration->setURLSchemeHandler(handler, "MyApp"), ns::Exception);
    EXPECT_EQ(configuration->urlSchemeHandler("MYAPP"), handler);
    EXPECT_TRUE(wk::WebView::handlesURLScheme("HTTP"));
    EXPECT_FALSE(wk::WebView::handlesURLScheme("app"));
}

TEST(URLResponse, HTTPFieldsGiveTypeEncodingAndLength) {
    wk::HTTPURLResponse r(
        url("app://x/a"), 200, "HTTP/1.1",
        {{"content-type", "Text/HTML; Charset=\"UTF-8\""}, {"Content-Length", "12"}});
    EXPECT_EQ(r.MIMEType(), "text/html");
    EXPECT_EQ(r.textEncodingName(), "utf-8");
    EXPECT_EQ(r.expectedContentLength(), 12);
    EXPECT_EQ(r.valueForHTTPHeaderField("CONTENT-LENGTH"), "12");

    wk::HTTPURLResponse bare(url("app://x/a"), 404, "HTTP/1.1", {{"Content-Length", "12x"}});
    EXPECT_EQ(bare.MIMEType(), std::nullopt);
    EXPECT_EQ(bare.expectedContentLength(), -1);
}

}  // namespace
