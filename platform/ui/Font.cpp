#include "platform/ui/Font.h"

#include <cmath>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Format.h"
#include "platform/ns/UTF8.h"

namespace ui {

namespace {

// One small context shared by every measurement; drawing contexts are not thread-safe.
class Measurer {
public:
    Measurer()
        : surface_(cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1)),
          context_(cairo_create(surface_)) {}
    ~Measurer() {
        cairo_destroy(context_);
        cairo_surface_destroy(surface_);
    }
    template <class Measure>
    auto measure(const Font& font, Measure measure) {
        dispatch::Lock lock(mutex_);
        font.applyTo(context_);
        return measure(context_);
    }

private:
    dispatch::Mutex mutex_;
    cairo_surface_t* surface_ GUARDED_BY(mutex_);
    cairo_t* context_ GUARDED_BY(mutex_);
};

Measurer& measurer() {
    static auto* shared = new Measurer();
    return *shared;
}

cairo_font_extents_t fontExtents(const Font& font) {
    return measurer().measure(font, [](cairo_t* context) {
        cairo_font_extents_t extents{};
        cairo_font_extents(context, &extents);
        return extents;
    });
}

}  // namespace

std::shared_ptr<Font> Font::systemFontOfSize(double pointSize) {
    return std::make_shared<Font>(kSystemFontFamily, pointSize);
}

std::shared_ptr<Font> Font::fontWithName(std::string name, double pointSize) {
    if (name.empty() || !(pointSize > 0)) return nullptr;
    return std::make_shared<Font>(std::move(name), pointSize);
}

double Font::ascender() const {
    return fontExtents(*this).ascent;
}

double Font::descender() const {
    return -fontExtents(*this).descent;
}

Size Font::sizeWithText(std::string_view text) const {
    // Drawing-layer text must be UTF-8; anything else would put the shared context in error.
    std::string copy = ns::utf8::repaired(text);
    double width = measurer().measure(*this, [&](cairo_t* context) {
        cairo_text_extents_t extents{};
        cairo_text_extents(context, copy.c_str(), &extents);
        return extents.x_advance;
    });
    return {std::ceil(width), std::ceil(lineHeight())};
}

void Font::applyTo(cairo_t* context) const {
    cairo_select_font_face(context, family_.c_str(), CAIRO_FONT_SLANT_NORMAL,
                           CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(context, pointSize_);
}

std::string Font::description() const {
    return ns::format("<Font: %@ %g>", family_, pointSize_);
}

}  // namespace ui
