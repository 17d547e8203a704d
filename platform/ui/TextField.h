#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/View.h"
#include "platform/ui/ViewVisitor.h"

namespace ui {

// An editable line of text. Its text is never null: an emptied field holds "".
class TextField : public View {
public:
    void accept(ViewVisitor& visitor) override { visitor.visit(*this); }
    using View::View;
    static std::shared_ptr<TextField> create(Rect frame = {}) {
        return std::make_shared<TextField>(frame);
    }

    const std::string& text() const { return text_; }
    void setText(std::string text) { Display::update(text_, std::move(text)); }
    const std::optional<std::string>& placeholder() const { return placeholder_; }
    void setPlaceholder(std::optional<std::string> text) { placeholder_ = std::move(text); }
    bool isSecureTextEntry() const { return secure_; }
    void setSecureTextEntry(bool on) { Display::update(secure_, on); }

private:
    std::string text_;
    std::optional<std::string> placeholder_;
    bool secure_ = false;
};

}  // namespace ui
