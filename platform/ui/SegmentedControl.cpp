#include "platform/ui/SegmentedControl.h"

#include <algorithm>

namespace ui {

std::optional<std::string> SegmentedControl::titleForSegmentAtIndex(size_t index) const {
    if (index >= titles_.size()) return std::nullopt;
    return titles_[index];
}

void SegmentedControl::setTitle(std::optional<std::string> title, size_t index) {
    if (index < titles_.size()) titles_[index] = std::move(title);
}

void SegmentedControl::insertSegmentWithTitle(std::optional<std::string> title, size_t index) {
    index = std::min(index, titles_.size());
    titles_.insert(titles_.begin() + static_cast<std::ptrdiff_t>(index), std::move(title));
}

}  // namespace ui
