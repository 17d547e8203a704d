#pragma once

#include <cairo.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/ns/Object.h"
#include "platform/ui/Geometry.h"

namespace ui {

// A font family at a point size, measured and drawn through the drawing layer's text support
// (the system's font configuration picks the face).
class Font : public ns::Object {
public:
    static constexpr const char* kSystemFontFamily = "sans-serif";

    static std::shared_ptr<Font> systemFontOfSize(double pointSize);
    // Null for an empty name or a size that is not positive.
    static std::shared_ptr<Font> fontWithName(std::string name, double pointSize);

    Font(std::string family, double pointSize)
        : family_(std::move(family)), pointSize_(pointSize) {}

    double pointSize() const { return pointSize_; }

    // Distance from the baseline to the top of the tallest glyphs, and (negative) to the
    // bottom of the lowest; the line height is their span.
    double ascender() const;
    double descender() const;
    double lineHeight() const { return ascender() - descender(); }

    // The size one line of the text takes, rounded up to whole points.
    Size sizeWithText(std::string_view text) const;

    // Selects this font on a drawing context.
    void applyTo(cairo_t* context) const;

    std::string description() const override;

private:
    std::string family_;
    double pointSize_;
};

}  // namespace ui
