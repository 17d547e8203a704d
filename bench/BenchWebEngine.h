// A web view engine for the benchmarks: a web view on the fake engine, page calls from its
// "hybrid" handler straight into the command queue, as their text. Header-only: each benchmark is
// its own program.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "bridge/HYBCommandQueue.h"
#include "bridge/HYBPlugin.h"
#include "bridge/HYBViewController.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "platform/testing/FakeEngine.h"
#include "platform/wk/ScriptMessageHandler.h"
#include "platform/wk/UserContentController.h"
#include "platform/wk/WebView.h"
#include "platform/wk/WebViewConfiguration.h"

namespace benchhost {

class FakeWebEngine : public HYBPlugin,
                      public HYBWebViewEngineProtocol,
                      public wk::ScriptMessageHandler {
public:
    void initWithFrame(const ui::Rect& frame) override {
        webView_ = wk::WebView::create(frame, wk::WebViewConfiguration::create());
    }
    void attach() {
        webView_->configuration()->userContentController()->addScriptMessageHandler(
            std::dynamic_pointer_cast<wk::ScriptMessageHandler>(shared_from_this()), "hybrid");
    }
    void didReceiveScriptMessage(wk::UserContentController& controller,
                                 const wk::ScriptMessage& message) override {
        takeScriptMessage(controller, message);
    }
    // As the real engine does: a call's text is routed as it came.
    bool readsBodyAsJSON() const override { return true; }
    void takeScriptMessage(wk::UserContentController&, wk::ScriptMessage message) override {
        if (message.bodyJSON) {
            viewController()->commandQueue()->executeCall(*message.bodyJSON);
        } else if (auto command = HYBInvokedUrlCommand::commandFromJson(std::move(message.body))) {
            viewController()->commandQueue()->execute(*command);
        }
    }
    void loadRequest(const wk::URLRequest& r) override { webView_->loadRequest(r); }
    void loadHTMLString(const std::string& h, const std::optional<ns::URL>& b) override {
        webView_->loadHTMLString(h, b);
    }
    void evaluateJavaScript(std::string script, EvaluationHandler completion) override {
        webView_->engine()->evaluateJavaScript(std::move(script), std::move(completion));
    }
    // Kept as the real engine takes it, without writing its arguments into a script.
    void callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                             EvaluationHandler) override {
        lastCall = {std::move(body), std::move(arguments)};
        ++calls;
    }
    std::optional<ns::URL> URL() const override { return webView_->URL(); }
    bool canLoadRequest(const wk::URLRequest&) override { return true; }
    void updateWithInfo(const HYBWebViewEngineInfo&) override {}
    std::shared_ptr<wk::WebView> engineWebView() const override { return webView_; }
    wk::FakeEngine& fake() { return *wk::FakeEngine::of(*webView_); }

    // The last function call, and how many there were.
    std::pair<std::string, ns::Dictionary> lastCall;
    size_t calls = 0;

private:
    std::shared_ptr<wk::WebView> webView_;
};

}  // namespace benchhost
