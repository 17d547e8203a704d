#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ns/URL.h"
#include "platform/testing/FakeEngine.h"
#include "platform/wk/NavigationDelegate.h"
#include "platform/wk/UIDelegate.h"
#include "platform/wk/WebView.h"
#include "tests/support/ManualRunLoop.h"

namespace wktest {

inline ns::URL url(std::string_view text) {
    return *ns::URL::parse(text);
}

// Writes every navigation event to a journal as "event url" and decides by a rule.
class RecordingNavigationDelegate : public wk::NavigationDelegate {
public:
    std::vector<std::string> events;
    std::vector<wk::NavigationAction> actions;
    std::vector<ns::Error> errors;
    std::function<wk::NavigationActionPolicy(const wk::NavigationAction&)> decide =
        [](const wk::NavigationAction&) { return wk::NavigationActionPolicy::Allow; };
    // When set, decisions are kept here instead of being answered.
    bool holdDecisions = false;
    std::vector<std::function<void(wk::NavigationActionPolicy)>> heldDecisions;
    // Runs after a provisional start has been noted.
    std::function<void(wk::WebView&)> onStart;

    void decidePolicyForNavigationAction(
        const std::shared_ptr<wk::WebView>&, const wk::NavigationAction& action,
        std::function<void(wk::NavigationActionPolicy)> handler) override {
        actions.push_back(action);
        events.push_back("decide " + action.request.url().absoluteString());
        if (holdDecisions) {
            heldDecisions.push_back(std::move(handler));
        } else {
            handler(decide(action));
        }
    }
    void didStartProvisionalNavigation(const std::shared_ptr<wk::WebView>& w,
                                       const std::shared_ptr<wk::Navigation>&) override {
        note("start", *w);
        if (onStart) onStart(*w);
    }
    void didCommitNavigation(const std::shared_ptr<wk::WebView>& w,
                             const std::shared_ptr<wk::Navigation>&) override {
        note("commit", *w);
    }
    void didFinishNavigation(const std::shared_ptr<wk::WebView>& w,
                             const std::shared_ptr<wk::Navigation>&) override {
        note("finish", *w);
    }
    void didFailProvisionalNavigation(const std::shared_ptr<wk::WebView>& w,
                                      const std::shared_ptr<wk::Navigation>&,
                                      const ns::Error& e) override {
        errors.push_back(e);
        note("failProvisional " + std::to_string(e.code()), *w);
    }
    void didFailNavigation(const std::shared_ptr<wk::WebView>& w,
                           const std::shared_ptr<wk::Navigation>&, const ns::Error& e) override {
        errors.push_back(e);
        note("fail " + std::to_string(e.code()), *w);
    }
    void webViewWebContentProcessDidTerminate(const std::shared_ptr<wk::WebView>&) override {
        events.push_back("terminated");
    }

private:
    void note(const std::string& event, const wk::WebView& w) {
        auto u = w.URL();
        events.push_back(event + " " + (u ? u->absoluteString() : std::string("-")));
    }
};

class WebViewTest : public testsupport::ManualRunLoop {
protected:
    void SetUp() override {
        ManualRunLoop::SetUp();
        configuration = wk::WebViewConfiguration::create();
    }
    // A web view on the fake engine with the recording navigation delegate.
    std::shared_ptr<wk::WebView> makeWebView() {
        auto view = wk::WebView::create({0, 0, 390, 844}, configuration);
        view->setNavigationDelegate(navigation);
        return view;
    }
    static std::shared_ptr<wk::FakeEngine> engine(const std::shared_ptr<wk::WebView>& view) {
        return wk::FakeEngine::of(*view);
    }

    std::shared_ptr<wk::WebViewConfiguration> configuration;
    std::shared_ptr<RecordingNavigationDelegate> navigation =
        std::make_shared<RecordingNavigationDelegate>();
};

}  // namespace wktest
