#include "platform/ui/AlertController.h"

#include "platform/ns/Exception.h"
#include "platform/ui/Window.h"

namespace ui {

AlertController::AlertController(std::optional<std::string> title,
                                 std::optional<std::string> message, Style style)
    : title_(std::move(title)), message_(std::move(message)), style_(style) {
    setModalPresentationStyle(ModalPresentationStyle::Custom);
}

void AlertController::addAction(std::shared_ptr<AlertAction> action) {
    if (action) actions_.push_back(std::move(action));
}

void AlertController::addTextField(const std::function<void(TextField&)>& configure) {
    if (style_ != Style::Alert) {
        throw ns::Exception(ns::kInvalidArgumentException,
                            "Text fields can only be added to an alert controller of style "
                            "UIAlertControllerStyleAlert");
    }
    auto field = TextField::create();
    if (configure) configure(*field);
    textFields_.push_back(std::move(field));
}

bool AlertController::press(std::string_view title) {
    for (size_t i = 0; i < actions_.size(); ++i) {
        if (actions_[i]->title() == title) return press(i);
    }
    throw ns::Exception(ns::kInvalidArgumentException,
                        "The alert has no button titled \"" + std::string(title) + "\"");
}

bool AlertController::press(size_t index) {
    if (index >= actions_.size()) {
        throw ns::Exception(ns::kRangeException, "The alert has no button at that index");
    }
    auto action = actions_[index];
    if (pressed_ || !action->isEnabled()) return false;
    pressed_ = true;
    auto self = sharedController();  // the handler may drop the last other reference
    dismissViewController(true);
    if (action->handler()) action->handler()(*action);
    return true;
}

std::shared_ptr<AlertController> AlertController::topmost() {
    auto windows = Window::windows();
    if (auto key = Window::keyWindow()) windows.push_back(key);  // the key window first
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        auto root = (*it)->rootViewController();
        if (!root) continue;
        auto top = root->presentationChain().back();
        return std::dynamic_pointer_cast<AlertController>(top);
    }
    return nullptr;
}

}  // namespace ui
