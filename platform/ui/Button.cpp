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
}

}  // namespace ui
