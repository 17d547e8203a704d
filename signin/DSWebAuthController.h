#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ns/URL.h"
#include "platform/ns/UUID.h"
#include "platform/ui/AdaptivePresentationControllerDelegate.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "platform/wk/NavigationDelegate.h"
#include "platform/wk/WebView.h"
#include "signin/DSAuthenticationError.h"

class DSWebAuthViewController;

// Runs the interactive sign-in page until it ends: the service sends it to the end URL
// (caught at the web view's navigation policy through the URL interception's rules), the user
// cancels (the Cancel item, or closing the window), or the page cannot load. The page shows in
// a window of its own, over a parent controller when one is given, or in the application's own
// web view. Main thread. The completion runs exactly once, after the screen has gone.
class DSWebAuthController : public wk::NavigationDelegate,
                            public ui::AdaptivePresentationControllerDelegate,
                            public std::enable_shared_from_this<DSWebAuthController> {
public:
    struct Outcome {
        enum class Kind { EndURL, Cancelled, Failed };
        Kind kind = Kind::Failed;
        std::optional<ns::URL> endURL;               // EndURL: as the service sent it
        std::optional<DSAuthenticationError> error;  // Failed
    };
    using Completion = std::function<void(Outcome)>;

    struct Presentation {
        std::shared_ptr<ui::ViewController> parentController;  // present over it
        std::shared_ptr<wk::WebView> webView;                  // or load in it, without a screen
    };

    static std::shared_ptr<DSWebAuthController> start(const ns::URL& startURL,
                                                      const Presentation& presentation,
                                                      const std::optional<ns::UUID>& correlationId,
                                                      Completion completion);
    // The sign-in on screen, if any.
    static std::shared_ptr<DSWebAuthController> current();

    // Ends the sign-in as the user's Cancel does.
    void cancel();

    const std::shared_ptr<wk::WebView>& webView() const { return webView_; }
    // The screen and the window of its own; null when shown in the application's web view.
    const std::shared_ptr<DSWebAuthViewController>& viewController() const { return screen_; }
    const std::shared_ptr<ui::Window>& window() const { return window_; }

    // wk::NavigationDelegate
    void decidePolicyForNavigationAction(
        const std::shared_ptr<wk::WebView>& webView, const wk::NavigationAction& action,
        std::function<void(wk::NavigationActionPolicy)> decisionHandler) override;
    void didFailProvisionalNavigation(const std::shared_ptr<wk::WebView>& webView,
                                      const std::shared_ptr<wk::Navigation>& navigation,
                                      const ns::Error& error) override;
    void didFailNavigation(const std::shared_ptr<wk::WebView>& webView,
                           const std::shared_ptr<wk::Navigation>& navigation,
                           const ns::Error& error) override;
    void webViewWebContentProcessDidTerminate(const std::shared_ptr<wk::WebView>& webView) override;

    // ui::AdaptivePresentationControllerDelegate: the user closed the screen.
    void presentationControllerDidDismiss(ui::PresentationController&) override;

    DSWebAuthController(std::optional<ns::UUID> correlationId, Completion completion);

private:
    void show(const ns::URL& startURL, const Presentation& presentation);
    void loadFailed(const ns::Error& error);
    void finish(Outcome outcome);
    void takeDown();

    std::optional<ns::UUID> correlationId_;
    Completion completion_;
    bool finished_ = false;
    bool dismissedByUser_ = false;
    std::shared_ptr<wk::WebView> webView_;
    std::weak_ptr<wk::NavigationDelegate> previousDelegate_;  // of the application's web view
    std::shared_ptr<DSWebAuthViewController> screen_;
    std::shared_ptr<ui::ViewController> presenter_;
    std::shared_ptr<ui::Window> window_;
};
