#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Accessibility.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewVisitor.h"

namespace ui {

// A read-only line (or lines) of text. Assistive technologies read its text.
class Label : public View, public Accessibility {
public:
    void accept(ViewVisitor& visitor) override { visitor.visit(*this); }
    enum class TextAlignment { Left = 0, Center = 1, Right = 2, Justified = 3, Natural = 4 };
    enum class LineBreakMode { Clip = 2, TruncateTail = 4 };

    // The platform's standard label font size, in points.
    static constexpr double kLabelFontSize = 17.0;

    explicit Label(Rect frame = {}) : View(frame), Accessibility(kAccessibilityTraitStaticText) {}
    static std::shared_ptr<Label> create(Rect frame = {}) { return std::make_shared<Label>(frame); }

    const std::optional<std::string>& text() const { return text_; }
    void setText(std::optional<std::string> text) { Display::update(text_, std::move(text)); }
    const std::optional<Color>& textColor() const { return textColor_; }
    void setTextColor(std::optional<Color> color) { Display::update(textColor_, color); }
    TextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(TextAlignment a) { Display::update(alignment_, a); }
    LineBreakMode lineBreakMode() const { return lineBreak_; }
    void setLineBreakMode(LineBreakMode m) { lineBreak_ = m; }
    int numberOfLines() const { return lines_; }
    void setNumberOfLines(int n) { lines_ = n; }
    Size shadowOffset() const { return shadowOffset_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool on) { enabled_ = on; }

private:
    std::optional<std::string> text_;
    std::optional<Color> textColor_;
    TextAlignment alignment_ = TextAlignment::Natural;
    LineBreakMode lineBreak_ = LineBreakMode::TruncateTail;
    int lines_ = 1;
    Size shadowOffset_{0, -1};
    bool enabled_ = true;
};

}  // namespace ui
