#include "platform/gtk/WebKitGtkNavigationReporter.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <sstream>
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

// Runs WebKit's load events, written as words, for the navigations "a" and "b": "a+" starts a
// load of a that a decision let through, "a?" one held back at the gate; "retry" tries the load
// again, "held" ends it at the gate, "fail" and "fail-committed" fail it, "redirect", "commit"
// and "end".
void runLoads(WebKitGtkNavigationReporter& reporter, const std::string& words,
              const std::map<std::string, std::shared_ptr<Navigation>>& navigations) {
    const ns::Error network(wk::kURLErrorDomain, -1,
                            {{wk::kURLErrorFailingURLStringErrorKey, std::string("https://t/")}});
    std::istringstream in(words);
    for (std::string word; in >> word;) {
        if (word == "retry") reporter.retrying("https://t/");
        if (word == "held") reporter.heldBack("http://h/");
        if (word == "fail") reporter.failed(false, network);
        if (word == "fail-committed") reporter.failed(true, network);
        if (word == "redirect") reporter.redirected();
        if (word == "commit") reporter.committed();
        if (word == "end") reporter.finished();
        if (word.size() == 2 && navigations.count(word.substr(0, 1))) {
            reporter.started(navigations.at(word.substr(0, 1)), word[1] == '+');
        }
    }
}

// Each navigation starts once and ends once, at its own address, however many loads it took.
TEST(WebKitGtkNavigationReporter, EachNavigationStartsAndEndsOnce) {
    const struct {
        const char* loads;
        std::vector<std::string> heard;
    } cases[] = {
        {"a+ retry end a+ commit end", {"start a", "commit a", "finish a"}},
        {"a+ retry end a+ fail end", {"start a", "fail a -1 https://t/"}},
        {"a? retry end a+ commit end", {"start a", "commit a", "finish a"}},
        {"a+ retry end b+", {"start a", "fail a -999 https://t/", "start b"}},
        {"a? held end b+ held end", {"start b", "fail b -999 http://h/"}},
        {"a+ commit fail-committed end", {"start a", "commit a", "fail-committed a -1 https://t/"}},
        {"a? redirect fail end", {"start a", "fail a -1 https://t/"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.loads);
        auto client = std::make_shared<RecordingClient>();
        WebKitGtkNavigationReporter reporter(client);
        auto a = std::make_shared<Navigation>(), b = std::make_shared<Navigation>();
        client->names = {{a.get(), "a"}, {b.get(), "b"}};
        runLoads(reporter, c.loads, {{"a", a}, {"b", b}});
        EXPECT_EQ(client->events, c.heard);
    }
}

}  // namespace
