#pragma once

#include <functional>
#include <memory>

#include "platform/ns/Error.h"
#include "platform/wk/Navigation.h"
#include "platform/wk/NavigationAction.h"

namespace wk {

class WebView;

// Decides a web view's navigations and hears how they go. Every operation is optional; the
// defaults allow every navigation and ignore the events.
//
// A main-frame navigation that is allowed goes: didStartProvisionalNavigation, then either
// didFailProvisionalNavigation, or didCommitNavigation followed by didFinishNavigation or
// didFailNavigation. A navigation replaced by a newer one, or stopped, fails with the URL
// loading domain's "cancelled" error (-999).
class NavigationDelegate {
public:
    virtual ~NavigationDelegate() = default;

    // The handler must be called exactly once; a handler dropped without a call cancels the
    // navigation (and is logged), a second call is ignored.
    virtual void decidePolicyForNavigationAction(
        const std::shared_ptr<WebView>& /*webView*/, const NavigationAction& /*action*/,
        std::function<void(NavigationActionPolicy)> decisionHandler) {
        decisionHandler(NavigationActionPolicy::Allow);
    }
    // The response of a navigation has come, before its content is shown. Only the main
    // frame's main resource is asked about. Same contract for the handler as above.
    virtual void decidePolicyForNavigationResponse(
        const std::shared_ptr<WebView>& /*webView*/, const NavigationResponse& /*response*/,
        std::function<void(NavigationResponsePolicy)> decisionHandler) {
        decisionHandler(NavigationResponsePolicy::Allow);
    }
    virtual void didStartProvisionalNavigation(const std::shared_ptr<WebView>&,
                                               const std::shared_ptr<Navigation>&) {}
    virtual void didCommitNavigation(const std::shared_ptr<WebView>&,
                                     const std::shared_ptr<Navigation>&) {}
    virtual void didFinishNavigation(const std::shared_ptr<WebView>&,
                                     const std::shared_ptr<Navigation>&) {}
    virtual void didFailProvisionalNavigation(const std::shared_ptr<WebView>&,
                                              const std::shared_ptr<Navigation>&,
                                              const ns::Error&) {}
    virtual void didFailNavigation(const std::shared_ptr<WebView>&,
                                   const std::shared_ptr<Navigation>&, const ns::Error&) {}
    virtual void webViewWebContentProcessDidTerminate(const std::shared_ptr<WebView>&) {}
};

}  // namespace wk
