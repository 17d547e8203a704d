#include "platform/ui/Button.h"

namespace ui {

std::optional<std::string> Button::titleForState(unsigned state) const {
    auto found = titles_.find(state);
    if (found == titles_.end()) found = titles_.find(kControlStateNormal);
    if (found == titles_.end()) return std::nullopt;
    return found->second;
}

void Button::setTitle(std::optional<std::string> title, unsigned state) {
    if (title) {
        titles_[state] = std::move(*title);
    } else {
        titles_.erase(state);
    }
    Display::setNeedsUpdate();
}

std::shared_ptr<Image> Button::imageForState(unsigned state) const {
    auto found = images_.find(state);
    if (found == images_.end()) found = images_.find(kControlStateNormal);
    return found == images_.end() ? nullptr : found->second;
}

void Button::setImage(std::shared_ptr<Image> image, unsigned state) {
    if (image) {
        images_[state] = std::move(image);
    } else {
        images_.erase(state);
    }
    Display::setNeedsUpdate();
}

void Button::sendActions() {
    if (!enabled_ || !isUserInteractionEnabled() || isHidden()) return;
    // An action may change the button's actions (or drop the button): run a copy.
    auto keep = weak_from_this().lock();
    for (const auto& action : std::vector<Action>(actions_)) action();
}

}  // namespace ui
