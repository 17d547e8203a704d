#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Display.h"

namespace ui {

// What a controller shows in the navigation bar while it is the top of a navigation stack:
// its title and the items at either end.
class NavigationItem {
public:
    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> title) { Display::update(title_, std::move(title)); }
    const std::shared_ptr<BarButtonItem>& leftBarButtonItem() const { return left_; }
    const std::shared_ptr<BarButtonItem>& rightBarButtonItem() const { return right_; }
    void setRightBarButtonItem(std::shared_ptr<BarButtonItem> item) {
        Display::update(right_, std::move(item));
    }
    bool hidesBackButton() const { return hidesBackButton_; }

private:
    std::optional<std::string> title_;
    std::shared_ptr<BarButtonItem> left_;
    std::shared_ptr<BarButtonItem> right_;
    bool hidesBackButton_ = false;
};

}  // namespace ui
