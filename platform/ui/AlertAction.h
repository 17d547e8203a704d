#pragma once

#include <functional>
#include <memory>
#include <string>

namespace ui {

// A button of an alert controller.
class AlertAction {
public:
    enum class Style { Default = 0, Cancel = 1, Destructive = 2 };
    using Handler = std::function<void(AlertAction&)>;

    static std::shared_ptr<AlertAction> create(std::string title, Style style, Handler handler) {
        return std::make_shared<AlertAction>(std::move(title), style, std::move(handler));
    }
    AlertAction(std::string title, Style style, Handler handler)
        : title_(std::move(title)), style_(style), handler_(std::move(handler)) {}

    const std::string& title() const { return title_; }
    Style style() const { return style_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool on) { enabled_ = on; }
    const Handler& handler() const { return handler_; }

private:
    std::string title_;
    Style style_;
    bool enabled_ = true;
    Handler handler_;
};

}  // namespace ui
