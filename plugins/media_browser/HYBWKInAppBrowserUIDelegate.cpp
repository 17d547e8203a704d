#include "plugins/media_browser/HYBWKInAppBrowserUIDelegate.h"

#include "platform/ns/Bundle.h"
#include "platform/ui/AlertAction.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/TextField.h"

namespace {

// Every button answers the page, then takes the alert down.
std::shared_ptr<ui::AlertAction> button(const char* key,
                                        std::function<void(ui::AlertController&)> answer,
                                        const std::weak_ptr<ui::AlertController>& alert) {
    return ui::AlertAction::create(ns::localizedString(key), ui::AlertAction::Style::Default,
                                   [answer = std::move(answer), alert](ui::AlertAction&) {
                                       auto shown = alert.lock();
                                       if (!shown) return;
                                       answer(*shown);
                                       shown->dismissViewController(true);
                                   });
}

}  // namespace

void HYBWKInAppBrowserUIDelegate::runJavaScriptAlertPanel(const std::shared_ptr<wk::WebView>&,
                                                          const std::string& message,
                                                          const wk::FrameInfo&,
                                                          std::function<void()> completionHandler) {
    auto presenter = getViewController();
    if (!presenter) return completionHandler();
    auto alert = ui::AlertController::create(title_, message, ui::AlertController::Style::Alert);
    alert->addAction(button(
        "OK", [completionHandler](ui::AlertController&) { completionHandler(); }, alert));
    presenter->presentViewController(alert, true);
}

void HYBWKInAppBrowserUIDelegate::runJavaScriptConfirmPanel(
    const std::shared_ptr<wk::WebView>&, const std::string& message, const wk::FrameInfo&,
    std::function<void(bool)> completionHandler) {
    auto presenter = getViewController();
    if (!presenter) return completionHandler(false);
    auto alert = ui::AlertController::create(title_, message, ui::AlertController::Style::Alert);
    alert->addAction(button(
        "OK", [completionHandler](ui::AlertController&) { completionHandler(true); }, alert));
    alert->addAction(button(
        "Cancel", [completionHandler](ui::AlertController&) { completionHandler(false); }, alert));
    presenter->presentViewController(alert, true);
}

void HYBWKInAppBrowserUIDelegate::runJavaScriptTextInputPanel(
    const std::shared_ptr<wk::WebView>&, const std::string& prompt,
    const std::optional<std::string>& defaultText, const wk::FrameInfo&,
    std::function<void(std::optional<std::string>)> completionHandler) {
    auto presenter = getViewController();
    if (!presenter) return completionHandler(std::nullopt);
    auto alert = ui::AlertController::create(title_, prompt, ui::AlertController::Style::Alert);
    alert->addAction(button(
        "OK",
        [completionHandler](ui::AlertController& shown) {
            const auto& fields = shown.textFields();
            completionHandler(fields.empty() ? std::optional<std::string>{}
                                             : std::optional<std::string>(fields.front()->text()));
        },
        alert));
    alert->addAction(button(
        "Cancel", [completionHandler](ui::AlertController&) { completionHandler(std::nullopt); },
        alert));
    alert->addTextField(
        [&defaultText](ui::TextField& field) { field.setText(defaultText.value_or("")); });
    presenter->presentViewController(alert, true);
}
