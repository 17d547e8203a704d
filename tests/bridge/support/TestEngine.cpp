#include "tests/bridge/support/TestEngine.h"

#include "bridge/HYBCommandQueue.h"
#include "bridge/HYBViewController.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/wk/UserContentController.h"
#include "platform/wk/WebViewConfiguration.h"

namespace bridgetest {

namespace {

// Stands between the content controller and the engine, so that the controller does not keep
// the engine alive.
class WeakHandler : public wk::ScriptMessageHandler {
public:
    explicit WeakHandler(std::weak_ptr<TestEngine> engine) : engine_(std::move(engine)) {}
    void didReceiveScriptMessage(wk::UserContentController&,
                                 const wk::ScriptMessage& message) override {
        auto engine = engine_.lock();
        auto controller = engine ? engine->viewController() : nullptr;
        if (!controller || message.name != "hybrid") return;
        if (auto command = HYBInvokedUrlCommand::commandFromJson(message.body)) {
            controller->commandQueue()->execute(*command);
        }
    }

private:
    std::weak_ptr<TestEngine> engine_;
};

}  // namespace

void TestEngine::initWithFrame(const ui::Rect& frame) {
    webView_ = wk::WebView::create(frame, wk::WebViewConfiguration::create());
}

void TestEngine::pluginInitialize() {
    ++initializeCount_;
    auto self = sharedSelf<TestEngine>();
    webView_->configuration()->userContentController()->addScriptMessageHandler(
        std::make_shared<WeakHandler>(self), "hybrid");
    webView_->setNavigationDelegate(self);
}

void TestEngine::loadRequest(const wk::URLRequest& request) {
    webView_->loadRequest(request);
}

void TestEngine::loadHTMLString(const std::string& html, const std::optional<ns::URL>& baseURL) {
    html_.push_back(html);
    webView_->loadHTMLString(html, baseURL);
}

void TestEngine::evaluateJavaScript(std::string script, EvaluationHandler completion) {
    webView_->engine()->evaluateJavaScript(script, std::move(completion));
}

void TestEngine::callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                                     EvaluationHandler completion) {
    webView_->engine()->callAsyncJavaScript(std::move(body), std::move(arguments),
                                            std::move(completion));
}

std::optional<ns::URL> TestEngine::URL() const {
    return webView_->URL();
}

void TestEngine::didStartProvisionalNavigation(const std::shared_ptr<wk::WebView>& webView,
                                               const std::shared_ptr<wk::Navigation>&) {
    ns::NotificationCenter::defaultCenter().post(HYBPluginResetNotification, webView);
}

void TestEngine::didFinishNavigation(const std::shared_ptr<wk::WebView>& webView,
                                     const std::shared_ptr<wk::Navigation>&) {
    ns::NotificationCenter::defaultCenter().post(HYBPageDidLoadNotification, webView);
}

}  // namespace bridgetest
