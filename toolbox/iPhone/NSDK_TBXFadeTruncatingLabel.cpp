#include "toolbox/iPhone/NSDK_TBXFadeTruncatingLabel.h"

#include <algorithm>
#include <cmath>

NSDK_TBXFadeTruncatingLabel::NSDK_TBXFadeTruncatingLabel(ui::Rect frame)
    : ui::Label(frame), font_(ui::Font::systemFontOfSize(kLabelFontSize)) {
    setLineBreakMode(LineBreakMode::Clip);
    setup();
}

void NSDK_TBXFadeTruncatingLabel::setup() {
    setBackgroundColor(ui::Color::clearColor());
    truncateMode_ = kTBXFadeTruncatingTail;
}

void NSDK_TBXFadeTruncatingLabel::setFont(std::shared_ptr<ui::Font> font) {
    font_ = font ? std::move(font) : ui::Font::systemFontOfSize(kLabelFontSize);
}

void NSDK_TBXFadeTruncatingLabel::drawTextInRect(ui::GraphicsContext& context,
                                                 const ui::Rect& rect) {
    std::string shown = text().value_or(std::string());
    context.saveGState();
    if (font_->sizeWithText(shown).width > rect.width()) {
        auto mask = getLinearGradient(bounds(), (truncateMode_ & kTBXFadeTruncatingHead) != 0,
                                      (truncateMode_ & kTBXFadeTruncatingTail) != 0);
        if (mask) context.clipToMask(bounds(), *mask->bitmap());
    }
    if (shadowColor_) {
        ui::Rect shadowed{rect.x() + shadowOffset().width, rect.y() + shadowOffset().height,
                          rect.width(), rect.height()};
        context.drawText(shown, shadowed, *font_, *shadowColor_, textAlignment());
    }
    context.drawText(shown, rect, *font_, textColor().value_or(ui::Color::blackColor()),
                     textAlignment());
    context.restoreGState();
}

std::shared_ptr<ui::Image> NSDK_TBXFadeTruncatingLabel::getLinearGradient(const ui::Rect& rect,
                                                                          bool fadeHead,
                                                                          bool fadeTail) {
    auto context =
        ui::GraphicsContext::beginImageContext(rect.size, false, 1.0, ui::Bitmap::Format::Gray8);
    if (!context) return nullptr;
    double width = rect.width();
    double middle = rect.height() / 2;
    context->fillRect({0, 0, width, rect.height()}, ui::Color::whiteColor());
    double fade = std::min(rect.height() * 2, std::floor(width / 4));
    if (fadeTail) {
        context->drawLinearGradient({width - fade, middle}, {width, middle},
                                    ui::Color::whiteColor(), ui::Color::blackColor());
    }
    if (fadeHead) {
        context->drawLinearGradient({fade, middle}, {0, middle}, ui::Color::whiteColor(),
                                    ui::Color::blackColor());
    }
    return context->makeImage();
}
