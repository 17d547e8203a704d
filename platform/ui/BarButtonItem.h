#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Object.h"
#include "platform/ui/Accessibility.h"
#include "platform/ui/Color.h"
#include "platform/ui/Display.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/Image.h"

namespace ui {

// An item of a toolbar or navigation bar: a titled button, a button showing a picture, a
// system item or a space. A picture is drawn as the bars draw one: its shape in the item's
// tint.
class BarButtonItem : public ns::Object, public Accessibility {
public:
    enum class Style { Plain = 0, Bordered = 1, Done = 2 };
    enum class SystemItem { Done = 0, Cancel = 1, Camera = 15, FlexibleSpace = 5, FixedSpace = 6 };
    using Action = std::function<void()>;

    static std::shared_ptr<BarButtonItem> withTitle(std::string title, Style style, Action action);
    static std::shared_ptr<BarButtonItem> withSystemItem(SystemItem item, Action action);
    static std::shared_ptr<BarButtonItem> withImage(std::shared_ptr<Image> image, Style style,
                                                    Action action);

    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> title) { Display::update(title_, std::move(title)); }
    const std::shared_ptr<Image>& image() const { return image_; }
    void setImage(std::shared_ptr<Image> image) { Display::update(image_, std::move(image)); }
    Style style() const { return style_; }
    void setStyle(Style style) { style_ = style; }
    const std::optional<SystemItem>& systemItem() const { return systemItem_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool on) { Display::update(enabled_, on); }
    const std::optional<Color>& tintColor() const { return tintColor_; }
    void setTintColor(std::optional<Color> color) { Display::update(tintColor_, color); }
    double width() const { return width_; }
    void setWidth(double width) { Display::update(width_, width); }
    bool hasAction() const { return static_cast<bool>(action_); }
    void setAction(Action action) { action_ = std::move(action); }

    // The user taps the item: runs its action when it is enabled and has one.
    void sendActions();

private:
    std::optional<std::string> title_;
    std::shared_ptr<Image> image_;
    Style style_ = Style::Plain;
    std::optional<SystemItem> systemItem_;
    bool enabled_ = true;
    std::optional<Color> tintColor_;
    double width_ = 0;
    Action action_;
};

}  // namespace ui
