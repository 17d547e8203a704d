#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Result.h"
#include "platform/ns/URL.h"
#include "platform/ns/Value.h"

namespace ui {
struct Rect;
}  // namespace ui
namespace net {
class URLRequest;
}  // namespace net
namespace wk {
class NavigationDelegate;
class ScriptMessageHandler;
class UIDelegate;
using URLRequest = net::URLRequest;
class WebView;
}  // namespace wk

// Live changes to an engine's web view (each member that is set is applied).
struct HYBWebViewEngineInfo {
    // Script message handlers added to the web view's content controller, by name.
    std::map<std::string, std::shared_ptr<wk::ScriptMessageHandler>> scriptMessageHandlers;
    std::shared_ptr<wk::NavigationDelegate> navigationDelegate;
    std::shared_ptr<wk::UIDelegate> uiDelegate;
    // Preferences applied as the settings are (keys lower-cased like the settings').
    std::optional<ns::Dictionary> webViewPreferences;
};

// What the view controller and the plug-ins ask of the web view engine. An engine is made
// from its class name, then given its frame with initWithFrame(); every operation runs on
// the main thread.
class HYBWebViewEngineProtocol {
public:
    // The value the script evaluated to, or the error the page reported.
    using EvaluationHandler = std::function<void(ns::Result<ns::Value>)>;

    virtual ~HYBWebViewEngineProtocol() = default;

    virtual void loadRequest(const wk::URLRequest& request) = 0;
    virtual void loadHTMLString(const std::string& html, const std::optional<ns::URL>& baseURL) = 0;
    // Evaluates the script in the page; a null handler hears nothing back.
    virtual void evaluateJavaScript(std::string script, EvaluationHandler completion) = 0;
    // Calls `body` as the body of a function of the named arguments, which reach the page as
    // values rather than as text in a script (see wk::Engine::callAsyncJavaScript). By
    // default, the equivalent script evaluated.
    virtual void callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                                     EvaluationHandler completion);
    // The URL the web view shows; nothing for an empty web view.
    virtual std::optional<ns::URL> URL() const = 0;
    virtual bool canLoadRequest(const wk::URLRequest& request) = 0;
    virtual void initWithFrame(const ui::Rect& frame) = 0;
    virtual void updateWithInfo(const HYBWebViewEngineInfo& info) = 0;
    virtual std::shared_ptr<wk::WebView> engineWebView() const = 0;
};
