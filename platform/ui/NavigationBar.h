#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewVisitor.h"

namespace ui {

class NavigationController;

// The bar across the top of a navigation controller. It shows what the top controller's
// navigation item says at the moment it is read: the title, the left item (or a "Back" item
// while there is a controller to go back to) and the right item.
class NavigationBar : public View {
public:
    void accept(ViewVisitor& visitor) override { visitor.visit(*this); }
    static constexpr double kHeight = 44;

    NavigationBar(Rect frame, std::weak_ptr<NavigationController> owner);

    std::optional<std::string> title() const;
    // The top controller's left item; else the back item when the stack can go back and the
    // item does not hide it; else null.
    std::shared_ptr<BarButtonItem> leftItem() const;
    std::shared_ptr<BarButtonItem> rightItem() const;
    const std::optional<Color>& barTintColor() const { return barTint_; }
    void setBarTintColor(std::optional<Color> color) { Display::update(barTint_, color); }

private:
    std::weak_ptr<NavigationController> owner_;
    std::shared_ptr<BarButtonItem> back_;
    std::optional<Color> barTint_;
};

}  // namespace ui
