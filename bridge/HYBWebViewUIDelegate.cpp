#include "bridge/HYBWebViewUIDelegate.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "bridge/HYBAppDelegate.h"
#include "platform/dispatch/QueueContract.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Bundle.h"
#include "platform/ui/AlertAction.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Application.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "platform/wk/WebView.h"
#include "platform/wk/WebViewConfiguration.h"

namespace {

// Gives a dialog's completion exactly one answer: the first one given, or, when the last
// holder goes without an answer (the alert was never shown or was dropped), the dismissed
// answer on a later turn of the main run loop.
template <class... Args>
class AnswerOnce {
public:
    AnswerOnce(std::function<void(Args...)> handler, std::tuple<Args...> dismissed)
        : handler_(std::move(handler)), dismissed_(std::move(dismissed)) {}
    ~AnswerOnce() {
        if (!handler_) return;
        dispatch::RunLoop::main().post(
            [handler = std::move(handler_), args = std::move(dismissed_)]() mutable {
                std::apply(handler, args);
            });
    }
    AnswerOnce(const AnswerOnce&) = delete;
    AnswerOnce& operator=(const AnswerOnce&) = delete;

    void answer(Args... args) {
        if (!handler_) return;
        auto handler = std::move(handler_);
        handler_ = nullptr;
        handler(std::move(args)...);
    }
    void dismiss() {
        std::apply([this](auto&&... a) { answer(a...); }, dismissed_);
    }

private:
    std::function<void(Args...)> handler_;
    std::tuple<Args...> dismissed_;
};

// The controller that shows dialogs and windows: the top of what the application window's
// root controller presents, so that a dialog of an extra window shows above that window.
std::shared_ptr<ui::ViewController> presenter() {
    std::shared_ptr<ui::Window> window;
    auto delegate = ui::Application::shared().delegate();
    if (auto appDelegate = std::dynamic_pointer_cast<HYBAppDelegate>(delegate)) {
        window = appDelegate->window();
    }
    if (!window) window = ui::Window::keyWindow();
    auto root = window ? window->rootViewController() : nullptr;
    if (!root) return nullptr;
    return root->presentationChain().back();
}

// True when the controller is now on screen.
bool present(const std::shared_ptr<ui::ViewController>& controller) {
    auto from = presenter();
    if (!from) return false;
    from->presentViewController(controller, true);
    return controller->presentingViewController() != nullptr;
}

std::shared_ptr<ui::AlertController> makeAlert(const std::optional<std::string>& title,
                                               const std::string& message) {
    return ui::AlertController::create(title, message, ui::AlertController::Style::Alert);
}

}  // namespace

HYBWebViewUIDelegate::HYBWebViewUIDelegate(std::optional<std::string> title)
    : title_(std::move(title)) {}

void HYBWebViewUIDelegate::runJavaScriptAlertPanel(const std::shared_ptr<wk::WebView>&,
                                                   const std::string& message, const wk::FrameInfo&,
                                                   std::function<void()> completionHandler) {
    HYB_EXPECT_MAIN_THREAD();
    auto once = std::make_shared<AnswerOnce<>>(std::move(completionHandler), std::tuple<>());
    auto alert = makeAlert(title_, message);
    alert->addAction(ui::AlertAction::create(ns::localizedString("OK"),
                                             ui::AlertAction::Style::Default,
                                             [once](ui::AlertAction&) { once->answer(); }));
    if (!present(alert)) once->dismiss();
}

void HYBWebViewUIDelegate::runJavaScriptConfirmPanel(const std::shared_ptr<wk::WebView>&,
                                                     const std::string& message,
                                                     const wk::FrameInfo&,
                                                     std::function<void(bool)> completionHandler) {
    HYB_EXPECT_MAIN_THREAD();
    auto once =
        std::make_shared<AnswerOnce<bool>>(std::move(completionHandler), std::make_tuple(false));
    auto alert = makeAlert(title_, message);
    alert->addAction(ui::AlertAction::create(ns::localizedString("OK"),
                                             ui::AlertAction::Style::Default,
                                             [once](ui::AlertAction&) { once->answer(true); }));
    alert->addAction(ui::AlertAction::create(ns::localizedString("Cancel"),
                                             ui::AlertAction::Style::Default,
                                             [once](ui::AlertAction&) { once->answer(false); }));
    if (!present(alert)) once->dismiss();
}

void HYBWebViewUIDelegate::runJavaScriptTextInputPanel(
    const std::shared_ptr<wk::WebView>&, const std::string& prompt,
    const std::optional<std::string>& defaultText, const wk::FrameInfo&,
    std::function<void(std::optional<std::string>)> completionHandler) {
    HYB_EXPECT_MAIN_THREAD();
    auto once = std::make_shared<AnswerOnce<std::optional<std::string>>>(
        std::move(completionHandler), std::make_tuple(std::optional<std::string>()));
    auto alert = makeAlert(title_, prompt);
    alert->addTextField([&](ui::TextField& field) { field.setText(defaultText.value_or("")); });
    // The field, not the alert: the alert owns these handlers.
    std::shared_ptr<ui::TextField> field = alert->textFields().front();
    alert->addAction(
        ui::AlertAction::create(ns::localizedString("OK"), ui::AlertAction::Style::Default,
                                [once, field](ui::AlertAction&) { once->answer(field->text()); }));
    alert->addAction(
        ui::AlertAction::create(ns::localizedString("Cancel"), ui::AlertAction::Style::Default,
                                [once](ui::AlertAction&) { once->answer(std::nullopt); }));
    if (!present(alert)) once->dismiss();
}

std::shared_ptr<wk::WebView> HYBWebViewUIDelegate::createWebView(
    const std::shared_ptr<wk::WebView>& webView,
    const std::shared_ptr<wk::WebViewConfiguration>& configuration,
    const wk::NavigationAction& action, const wk::WindowFeatures& /*features*/) {
    HYB_EXPECT_MAIN_THREAD();
    if (action.targetFrame && action.targetFrame->isMainFrame) return nullptr;
    if (!webView) return nullptr;
    if (!allowNewWindows_) {
        webView->loadRequest(action.request);
        return nullptr;
    }
    auto window = wk::WebView::create(webView->frame(), configuration);
    // Navigations of the new window pass the same policy and navigation filter.
    window->setUIDelegate(webView->uiDelegate());
    window->setNavigationDelegate(webView->navigationDelegate());

    auto controller = ui::ViewController::create();
    controller->setView(window);
    controller->setModalPresentationStyle(ui::ModalPresentationStyle::OverCurrentContext);
    windows_.push_back(controller);
    present(controller);
    return window;
}

void HYBWebViewUIDelegate::webViewDidClose(const std::shared_ptr<wk::WebView>& webView) {
    HYB_EXPECT_MAIN_THREAD();
    auto it = std::find_if(windows_.begin(), windows_.end(), [&](const auto& controller) {
        return controller->isViewLoaded() && controller->view() == webView;
    });
    if (it == windows_.end()) return;
    auto controller = *it;
    windows_.erase(it);
    controller->dismissViewController(true);
}
