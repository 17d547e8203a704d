#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/ui/Color.h"
#include "platform/ui/Font.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"
#include "platform/ui/NibAwaking.h"

// Bits of the fading label's truncate mode.
inline constexpr int32_t kTBXFadeTruncatingTail = 1;
inline constexpr int32_t kTBXFadeTruncatingHead = 2;
inline constexpr int32_t kTBXFadeTruncatingHeadAndTail = 3;

// A label that, instead of an ellipsis, fades out text that does not fit: at its tail, its
// head, or both.
class NSDK_TBXFadeTruncatingLabel : public ui::Label, public ui::NibAwaking {
public:
    // Clipping line breaks, a clear background, tail fading.
    explicit NSDK_TBXFadeTruncatingLabel(ui::Rect frame = {});
    static std::shared_ptr<NSDK_TBXFadeTruncatingLabel> create(ui::Rect frame = {}) {
        return std::make_shared<NSDK_TBXFadeTruncatingLabel>(frame);
    }

    void awakeFromNib() override { setup(); }
    void setup();

    int32_t truncateMode() const { return truncateMode_; }
    void setTruncateMode(int32_t mode) { truncateMode_ = mode; }
    const std::shared_ptr<ui::Font>& font() const { return font_; }
    void setFont(std::shared_ptr<ui::Font> font);
    const std::optional<ui::Color>& shadowColor() const { return shadowColor_; }
    void setShadowColor(std::optional<ui::Color> color) { shadowColor_ = color; }

    // Draws the text (and its shadow) into the rectangle, through the fade mask when it is
    // wider than the rectangle.
    void drawTextInRect(ui::GraphicsContext& context, const ui::Rect& rect);

    // A grey mask of the rectangle's size: white, with a white-to-black gradient at the faded
    // ends, each as wide as the smaller of twice the height and a quarter of the width. Null
    // when a bitmap that size may not be made.
    static std::shared_ptr<ui::Image> getLinearGradient(const ui::Rect& rect, bool fadeHead,
                                                        bool fadeTail);

private:
    int32_t truncateMode_ = kTBXFadeTruncatingTail;
    std::shared_ptr<ui::Font> font_;
    std::optional<ui::Color> shadowColor_;
};
