#include "platform/gtk/WebKitGtkNavigationReporter.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/wk/WebKitError.h"

namespace {

using wk::Navigation;
using wk::WebKitGtkNavigationReporter;

// Writes down the navigation events a view's client hears, each navigation by its letter.
class RecordingClient : public wk::EngineClient {
public:
    std::vector<std::string> events;
    std::map<const Navigation*, std::string> names;

    void scriptMessagePosted(const std::string&, ns::Value, const wk::FrameInfo&,
                             std::optional<ns::Error>) override {}
    void scriptMessagePostedAsJSON(const std::string&, ns::JSONSlice,
                                   const wk::FrameInfo&) override {}
    void navigationActionToDecide(const wk::NavigationAction&,
                                  std::function<void(wk::NavigationActionPolicy)>) override {}
    void provisionalNavigationStarted(const std::shared_ptr<Navigation>& n) override {
        note("start", n);
    }
    void navigationCommitted(const std::shared_ptr<Navigation>& n) override { note("commit", n); }
    void navigationFinished(const std::shared_ptr<Navigation>& n) override { note("finish", n); }
    void provisionalNavigationFailed(const std::shared_ptr<Navigation>& n,
                                     const ns::Error& error) override {
        note("fail", n, failure(error));
    }
    void navigationFailed(const std::shared_ptr<Navigation>& n, const ns::Error& error) override {
        note("fail-committed", n, failure(error));
    }
    void webContentProcessTerminated() override {}
    bool schemeTaskStarted(const std::shared_ptr<wk::URLSchemeTask>&) override { return false; }
    void schemeTaskStopped(const std::shared_ptr<wk::URLSchemeTask>&) override {}
    void alertRequested(const std::string&, const wk::FrameInfo&, std::function<void()>) override {}
    void confirmRequested(const std::string&, const wk::FrameInfo&,
                          std::function<void(bool)>) override {}
    void promptRequested(const std::string&, const std::optional<std::string>&,
                         const wk::FrameInfo&,
                         std::function<void(std::optional<std::string>)>) override {}
    std::shared_ptr<wk::WebView> newWindowRequested(const wk::NavigationAction&,
                                                    const wk::WindowFeatures&) override {
        return nullptr;
    }
    void closeRequested() override {}

private:
    static std::string failure(const ns::Error& error) {
        const auto at = error.userInfo().find(wk::kURLErrorFailingURLStringErrorKey);
        return " " + std::to_string(error.code()) + " " + *at->second.string();
    }
    void note(const std::string& what, const std::shared_ptr<Navigation>& n,
              const std::string& detail = "") {
        events.push_back(what + " " + names[n.get()] + detail);
    }
};

ns::Error networkError(const std::string& url) {
    return ns::Error(wk::kURLErrorDomain, -1, {{wk::kURLErrorFailingURLStringErrorKey, url}});
}

struct Case {
    const char* name;
    // Runs WebKit's load events for navigations `a` and `b`.
    std::function<void(WebKitGtkNavigationReporter&, std::shared_ptr<Navigation> a,
                       std::shared_ptr<Navigation> b)>
        loads;
    std::vector<std::string> heard;
};

// Each navigation starts once and ends once, at its own address, however many loads it took.
TEST(WebKitGtkNavigationReporter, EachNavigationStartsAndEndsOnce) {
    const Case cases[] = {
        {"a retried load that then loads",
         [](auto& r, auto a, auto) {
             r.started(a, true);
             r.retrying("https://t/");
             r.finished();  // the failed attempt's end
             r.started(a, true);
             r.committed();
             r.finished();
         },
         {"start a", "commit a", "finish a"}},
        {"a retried load that then fails",
         [](auto& r, auto a, auto) {
             r.started(a, true);
             r.retrying("https://t/");
             r.finished();
             r.started(a, true);
             r.failed(false, networkError("https://t/"));
             r.finished();
         },
         {"start a", "fail a -1 https://t/"}},
        {"a retry whose start was held",
         [](auto& r, auto a, auto) {
             r.started(a, false);
             r.retrying("https://t/");
             r.finished();
             r.started(a, true);
             r.committed();
             r.finished();
         },
         {"start a", "commit a", "finish a"}},
        {"another load before the retry starts",
         [](auto& r, auto a, auto b) {
             r.started(a, true);
             r.retrying("https://t/");
             r.finished();
             r.started(b, true);
         },
         {"start a", "fail a -999 https://t/", "start b"}},
        {"loads held back at the gate",
         [](auto& r, auto a, auto b) {
             r.started(a, false);
             r.heldBack("http://held/");
             r.finished();
             r.started(b, true);
             r.heldBack("http://redirected/");
             r.finished();
         },
         {"start b", "fail b -999 http://redirected/"}},
        {"a committed load that fails",
         [](auto& r, auto a, auto) {
             r.started(a, true);
             r.committed();
             r.failed(true, networkError("http://p/"));
             r.finished();
         },
         {"start a", "commit a", "fail-committed a -1 http://p/"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto client = std::make_shared<RecordingClient>();
        WebKitGtkNavigationReporter reporter(client);
        auto a = std::make_shared<Navigation>(), b = std::make_shared<Navigation>();
        client->names = {{a.get(), "a"}, {b.get(), "b"}};
        c.loads(reporter, a, b);
        EXPECT_EQ(client->events, c.heard);
    }
}

}  // namespace
