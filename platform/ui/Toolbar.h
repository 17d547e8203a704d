#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewVisitor.h"

namespace ui {

// A bar of items.
class Toolbar : public View {
public:
    void accept(ViewVisitor& visitor) override { visitor.visit(*this); }
    enum class BarStyle { Default = 0, Black = 1 };

    using View::View;
    static std::shared_ptr<Toolbar> create(Rect frame = {}) {
        return std::make_shared<Toolbar>(frame);
    }

    const std::vector<std::shared_ptr<BarButtonItem>>& items() const { return items_; }
    void setItems(std::vector<std::shared_ptr<BarButtonItem>> items) {
        Display::update(items_, std::move(items));
    }
    BarStyle barStyle() const { return barStyle_; }
    void setBarStyle(BarStyle style) { barStyle_ = style; }
    const std::optional<Color>& barTintColor() const { return barTintColor_; }
    void setBarTintColor(std::optional<Color> color) { Display::update(barTintColor_, color); }
    bool isTranslucent() const { return translucent_; }
    void setTranslucent(bool on) { translucent_ = on; }

private:
    std::vector<std::shared_ptr<BarButtonItem>> items_;
    BarStyle barStyle_ = BarStyle::Default;
    std::optional<Color> barTintColor_;
    bool translucent_ = true;
};

}  // namespace ui
