#include "signin/DSWebAuthController.h"

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/QueueContract.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/net/URLError.h"
#include "platform/ns/Exception.h"
#include "platform/ui/PresentationController.h"
#include "signin/DSLogger.h"
#include "signin/DSURLProtocol.h"
#include "signin/DSWebAuthViewController.h"

namespace {

dispatch::Mutex currentLock;
std::shared_ptr<DSWebAuthController>& currentSlot() REQUIRES(currentLock) {
    static std::shared_ptr<DSWebAuthController> current;
    return current;
}

bool isCancellation(const ns::Error& error) {
    return error.domain() == net::kURLErrorDomain && error.code() == net::kURLErrorCancelled;
}

// Where a failed load was going, as the engine reports it.
std::optional<ns::URL> failingURL(const ns::Error& error) {
    auto it = error.userInfo().find(net::kURLErrorFailingURLStringErrorKey);
    if (it == error.userInfo().end() || !it->second.string()) return std::nullopt;
    return ns::URL::parse(*it->second.string());
}

}  // namespace

std::shared_ptr<DSWebAuthController> DSWebAuthController::start(
    const ns::URL& startURL, const Presentation& presentation,
    const std::optional<ns::UUID>& correlationId, Completion completion) {
    if (!dispatch::RunLoop::isMainThread()) {
        throw ns::Exception(ns::kInternalInconsistencyException,
                            "The sign-in screen can only be shown on the main thread.");
    }
    if (!completion) DSLogger::raiseInvalidArgument("completionBlock");
    auto controller = std::make_shared<DSWebAuthController>(correlationId, std::move(completion));
    {
        dispatch::Lock lock(currentLock);
        currentSlot() = controller;
    }
    controller->show(startURL, presentation);
    return controller;
}

std::shared_ptr<DSWebAuthController> DSWebAuthController::current() {
    dispatch::Lock lock(currentLock);
    return currentSlot();
}

DSWebAuthController::DSWebAuthController(std::optional<ns::UUID> correlationId,
                                         Completion completion)
    : correlationId_(std::move(correlationId)), completion_(std::move(completion)) {}

void DSWebAuthController::show(const ns::URL& startURL, const Presentation& presentation) {
    auto self = shared_from_this();
    if (presentation.webView) {
        webView_ = presentation.webView;
        previousDelegate_ = webView_->navigationDelegate();
    } else {
        std::weak_ptr<DSWebAuthController> weakSelf = self;
        screen_ = DSWebAuthViewController::create([weakSelf] {
            if (auto controller = weakSelf.lock()) controller->cancel();
        });
        webView_ = screen_->webView();
        screen_->presentationController().setDelegate(self);
        const auto& parent = presentation.parentController;
        if (parent && parent->window() && !parent->presentedViewController()) {
            presenter_ = parent;
        } else {
            // A window of its own, above the application's, as the in-app browser has.
            window_ = ui::Window::create();
            window_->setRootViewController(ui::ViewController::create());
            window_->makeKeyAndVisible();
            presenter_ = window_->rootViewController();
        }
        presenter_->presentViewController(screen_, true);
    }
    webView_->setNavigationDelegate(self);
    DSLogger::log(DS_LOG_LEVEL_VERBOSE, nullptr, "Showing the sign-in page", 0, std::nullopt,
                  correlationId_);
    webView_->loadRequest(wk::URLRequest(startURL));
}

void DSWebAuthController::decidePolicyForNavigationAction(
    const std::shared_ptr<wk::WebView>&, const wk::NavigationAction& action,
    std::function<void(wk::NavigationActionPolicy)> decisionHandler) {
    HYB_EXPECT_MAIN_THREAD();
    const ns::URL& url = action.request.url();
    if (finished_ || !action.targetFrame) {
        // Nothing loads after the end, and the sign-in opens no other windows.
        decisionHandler(wk::NavigationActionPolicy::Cancel);
        return;
    }
    switch (DSURLProtocol::interceptionOf(url)) {
        case DSURLProtocol::Interception::End:
            decisionHandler(wk::NavigationActionPolicy::Cancel);
            finish({Outcome::Kind::EndURL, url, std::nullopt});
            return;
        case DSURLProtocol::Interception::Stop:
            decisionHandler(wk::NavigationActionPolicy::Cancel);
            // The page itself must not go to plain http; a frame of it just does not load.
            if (action.targetFrame->isMainFrame) {
                finish({Outcome::Kind::Failed, std::nullopt,
                        DSAuthenticationError::errorFromNonHttpsRedirect(correlationId_)});
            }
            return;
        case DSURLProtocol::Interception::Load:
            break;
    }
    const std::string scheme = url.scheme().value_or("");
    if (scheme == "https" || scheme == "about") {
        decisionHandler(wk::NavigationActionPolicy::Allow);
        return;
    }
    DSLogger::logFormat(DS_LOG_LEVEL_WARN, nullptr, "The sign-in page is kept on the web", 0,
                        correlationId_, nullptr, "Not followed: a load of the scheme %@", scheme);
    decisionHandler(wk::NavigationActionPolicy::Cancel);
}

void DSWebAuthController::didFailProvisionalNavigation(const std::shared_ptr<wk::WebView>&,
                                                       const std::shared_ptr<wk::Navigation>&,
                                                       const ns::Error& error) {
    HYB_EXPECT_MAIN_THREAD();
    loadFailed(error);
}

void DSWebAuthController::didFailNavigation(const std::shared_ptr<wk::WebView>&,
                                            const std::shared_ptr<wk::Navigation>&,
                                            const ns::Error& error) {
    HYB_EXPECT_MAIN_THREAD();
    loadFailed(error);
}

void DSWebAuthController::loadFailed(const ns::Error& error) {
    if (finished_) return;
    if (auto url = failingURL(error)) {
        switch (DSURLProtocol::interceptionOf(*url)) {
            case DSURLProtocol::Interception::End:
                // An engine that fails a load of the end URL (a scheme it cannot load) still
                // brings it.
                finish({Outcome::Kind::EndURL, url, std::nullopt});
                return;
            case DSURLProtocol::Interception::Stop:
                // The page's own load was on its way to plain http (a server redirect, which
                // the engine cannot place in a frame when it asks): the policy stopped it, and
                // the engine reports the page's load as interrupted. Nothing else will come.
                finish({Outcome::Kind::Failed, std::nullopt,
                        DSAuthenticationError::errorFromNonHttpsRedirect(correlationId_)});
                return;
            case DSURLProtocol::Interception::Load:
                break;
        }
    }
    if (isCancellation(error)) return;
    finish({Outcome::Kind::Failed, std::nullopt,
            DSAuthenticationError::errorFromNSError(error, error.localizedDescription(),
                                                    correlationId_)});
}

void DSWebAuthController::webViewWebContentProcessDidTerminate(
    const std::shared_ptr<wk::WebView>&) {
    HYB_EXPECT_MAIN_THREAD();
    finish({Outcome::Kind::Failed, std::nullopt,
            DSAuthenticationError::unexpectedInternalError(
                "The sign-in page's web content process ended.", correlationId_)});
}

void DSWebAuthController::presentationControllerDidDismiss(ui::PresentationController&) {
    HYB_EXPECT_MAIN_THREAD();
    dismissedByUser_ = true;
    cancel();
}

void DSWebAuthController::cancel() {
    finish({Outcome::Kind::Cancelled, std::nullopt, std::nullopt});
}

void DSWebAuthController::finish(Outcome outcome) {
    HYB_EXPECT_MAIN_THREAD();
    if (finished_) return;
    finished_ = true;
    auto keep = shared_from_this();
    takeDown();
    {
        dispatch::Lock lock(currentLock);
        if (currentSlot() == keep) currentSlot().reset();
    }
    // The flag above is what keeps a second end (a cancel after the end URL, a window closed
    // during the exchange) from reaching the caller: the completion is called once, then let go.
    completion_(std::move(outcome));
    completion_ = nullptr;
}

void DSWebAuthController::takeDown() {
    webView_->stopLoading();
    if (!screen_) {
        webView_->setNavigationDelegate(previousDelegate_);
        return;
    }
    webView_->setNavigationDelegate(std::weak_ptr<wk::NavigationDelegate>());
    if (!dismissedByUser_ && screen_->presentingViewController()) {
        presenter_->dismissViewController(false);
    }
    if (window_) window_->setHidden(true);
}
