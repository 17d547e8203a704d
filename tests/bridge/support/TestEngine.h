#pragma once

#include <memory>
#include <vector>

#include "bridge/HYBPlugin.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "platform/testing/FakeEngine.h"
#include "platform/wk/NavigationDelegate.h"
#include "platform/wk/ScriptMessageHandler.h"
#include "platform/wk/WebView.h"

namespace bridgetest {

// A small web view engine for the bridge's tests: a web view on the fake engine, page calls
// from the "hybrid" message handler straight into the command queue, and the bridge's
// notifications for navigations of its web view.
class TestEngine : public HYBPlugin,
                   public HYBWebViewEngineProtocol,
                   public wk::NavigationDelegate {
public:
    static constexpr const char* kClassName = "TestEngine";
    // Registered under this name, the engine cannot load anything.
    static constexpr const char* kRefusingClassName = "RefusingEngine";

    void initWithFrame(const ui::Rect& frame) override;
    void pluginInitialize() override;
    void loadRequest(const wk::URLRequest& request) override;
    void loadHTMLString(const std::string& html, const std::optional<ns::URL>& baseURL) override;
    void evaluateJavaScript(std::string script, EvaluationHandler completion) override;
    void callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                             EvaluationHandler completion) override;
    std::optional<ns::URL> URL() const override;
    bool canLoadRequest(const wk::URLRequest&) override { return canLoad_; }
    void updateWithInfo(const HYBWebViewEngineInfo&) override {}
    std::shared_ptr<wk::WebView> engineWebView() const override { return webView_; }

    wk::FakeEngine& fake() const { return *wk::FakeEngine::of(*webView_); }
    void setCanLoad(bool canLoad) { canLoad_ = canLoad; }
    const std::vector<std::string>& loadedHTML() const { return html_; }
    int pluginInitializeCount() const { return initializeCount_; }

    void didStartProvisionalNavigation(const std::shared_ptr<wk::WebView>& webView,
                                       const std::shared_ptr<wk::Navigation>&) override;
    void didFinishNavigation(const std::shared_ptr<wk::WebView>& webView,
                             const std::shared_ptr<wk::Navigation>&) override;

private:
    std::shared_ptr<wk::WebView> webView_;
    std::vector<std::string> html_;
    bool canLoad_ = true;
    int initializeCount_ = 0;
};

}  // namespace bridgetest
