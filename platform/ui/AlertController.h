#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/AlertAction.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace ui {

// A modal alert or action sheet with a title, a message, buttons (actions) and, for alerts,
// text fields. It covers nothing: the presenter stays on screen under it. Headless, so tests
// and drivers press its buttons with press().
class AlertController : public ViewController {
public:
    enum class Style { ActionSheet = 0, Alert = 1 };

    AlertController(std::optional<std::string> title, std::optional<std::string> message,
                    Style style);
    static std::shared_ptr<AlertController> create(std::optional<std::string> title,
                                                   std::optional<std::string> message,
                                                   Style style = Style::Alert) {
        return std::make_shared<AlertController>(std::move(title), std::move(message), style);
    }

    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
    const std::optional<std::string>& message() const { return message_; }

    void addAction(std::shared_ptr<AlertAction> action);
    const std::vector<std::shared_ptr<AlertAction>>& actions() const { return actions_; }
    // Text fields exist only in alerts: adding one to an action sheet throws, as the platform
    // raises. The configuration handler runs at once with the new field.
    void addTextField(const std::function<void(TextField&)>& configure = {});
    const std::vector<std::shared_ptr<TextField>>& textFields() const { return textFields_; }

    // The user taps a button: the alert is dismissed (animated) and the action's handler runs,
    // once. Later presses of this alert, and presses of a disabled button, do nothing and
    // answer false. A title or index that names no button throws (a fault of the caller).
    bool press(std::string_view title);
    bool press(size_t index);
    bool isPressed() const { return pressed_; }

    // The topmost presented controller of the key window (or, failing that, of the frontmost
    // visible window) when it is an alert controller; null otherwise.
    static std::shared_ptr<AlertController> topmost();

private:
    std::optional<std::string> title_;
    std::optional<std::string> message_;
    Style style_;
    std::vector<std::shared_ptr<AlertAction>> actions_;
    std::vector<std::shared_ptr<TextField>> textFields_;
    bool pressed_ = false;
};

}  // namespace ui
