#include "toolbox/iPhone/UIImage+TBXUIImageResizeAdditions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "platform/ns/Exception.h"
#include "tests/support/FontconfigLeakSuppression.h"
#include "toolbox/iPhone/NSDK_TBXFadeTruncatingLabel.h"
#include "toolbox/iPhone/UIFont+TBXLineHeight.h"

namespace {

using ui::Bitmap;
using ui::Image;
using Pixel = Bitmap::Pixel;
using O = Image::Orientation;

// An opaque bitmap whose pixel (x, y) has red x·step and green y·step.
std::shared_ptr<Bitmap> coordinates(int width, int height, int step) {
    auto bitmap = Bitmap::create(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint32_t argb = 0xFF000000u | (uint32_t(x * step) << 16) | (uint32_t(y * step) << 8);
            std::memcpy(bitmap->data() + static_cast<size_t>(y) * bitmap->stride() + x * 4, &argb,
                        4);
        }
    }
    bitmap->markDirty();
    return bitmap;
}

// Four vertical stripes of 50 points: red, green, blue, white.
std::shared_ptr<Image> stripes() {
    auto context = ui::GraphicsContext::beginImageContext({200, 100}, false, 1);
    const ui::Color colours[] = {ui::Color::redColor(), ui::Color::greenColor(),
                                 ui::Color::blueColor(), ui::Color::whiteColor()};
    for (int i = 0; i < 4; ++i) context->fillRect({i * 50.0, 0, 50, 100}, colours[i]);
    return context->makeImage();
}

TEST(ImageResizeTest, StretchFitAndCrop) {
    auto image = stripes();
    auto stretched = tbx_imageByResizingToSize(*image, {100, 100}, false, false);
    EXPECT_EQ(stretched->size(), (ui::Size{100, 100}));
    EXPECT_EQ(stretched->bitmap()->pixel(12, 50), (Pixel{255, 0, 0, 255}));
    EXPECT_EQ(stretched->bitmap()->pixel(87, 50), (Pixel{255, 255, 255, 255}));

    auto fitted = tbx_imageByResizingToSize(*image, {100, 100}, true, false);
    EXPECT_EQ(fitted->size(), (ui::Size{100, 50}));

    // Cropped: drawn 200 wide at x = -50, so the middle two stripes fill the canvas.
    auto cropped = tbx_imageByResizingToSize(*image, {100, 100}, true, true);
    EXPECT_EQ(cropped->size(), (ui::Size{100, 100}));
    EXPECT_EQ(cropped->bitmap()->pixel(25, 50), (Pixel{0, 255, 0, 255}));
    EXPECT_EQ(cropped->bitmap()->pixel(75, 50), (Pixel{0, 0, 255, 255}));

    auto tall = tbx_imageByResizingToSize(*image, {100, 400}, true, false);
    EXPECT_EQ(tall->size(), (ui::Size{100, 50}));
    auto wide = tbx_imageByResizingToSize(*image, {400, 100}, true, true);
    EXPECT_EQ(wide->size(), (ui::Size{400, 100}));
    EXPECT_EQ(wide->bitmap()->pixel(10, 50), (Pixel{255, 0, 0, 255}));
}

TEST(ImageResizeTest, SizesBelowOnePointOrBeyondTheCapGiveNothing) {
    auto image = stripes();
    EXPECT_EQ(tbx_imageByResizingToSize(*image, {0.5, 100}, false, false), nullptr);
    EXPECT_EQ(tbx_imageByResizingToSize(*image, {100, 0}, true, true), nullptr);
    EXPECT_EQ(tbx_imageByResizingToSize(*image, {NAN, 100}, true, true), nullptr);
    EXPECT_EQ(tbx_imageByResizingToSize(*image, {1e9, 1e9}, false, false), nullptr);
    auto tiny = Image::imageWithBitmap(Bitmap::create(1, 1), 2.0);  // half a point wide
    EXPECT_EQ(tbx_imageByResizingToSize(*tiny, {10, 10}, false, false), nullptr);
}

TEST(ImageRotateTest, EveryOrientationStandsUpright) {
    const int w = 3;
    const int h = 2;
    auto source = Image::imageWithBitmap(coordinates(w, h, 60));
    // Where each shown pixel (u, v) comes from in the stored bitmap.
    struct Case {
        O orientation;
        int shownWidth;
        std::function<std::pair<int, int>(int, int)> from;
    };
    const Case cases[] = {
        {O::Up, w,
         [](int u, int v) {
             return std::pair{u, v};
         }},
        {O::Down, w,
         [&](int u, int v) {
             return std::pair{w - 1 - u, h - 1 - v};
         }},
        {O::Left, h,
         [&](int u, int v) {
             return std::pair{w - 1 - v, u};
         }},
        {O::Right, h,
         [&](int u, int v) {
             return std::pair{v, h - 1 - u};
         }},
        {O::UpMirrored, w,
         [&](int u, int v) {
             return std::pair{w - 1 - u, v};
         }},
        {O::DownMirrored, w,
         [&](int u, int v) {
             return std::pair{u, h - 1 - v};
         }},
        {O::LeftMirrored, h,
         [](int u, int v) {
             return std::pair{v, u};
         }},
        {O::RightMirrored, h,
         [&](int u, int v) {
             return std::pair{w - 1 - v, h - 1 - u};
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.orientation));
        auto rotated = tbx_imageByRotating(*source, c.orientation);
        ASSERT_TRUE(rotated);
        const Bitmap& out = *rotated->bitmap();
        ASSERT_EQ(out.width(), c.shownWidth);
        ASSERT_EQ(out.height(), w * h / c.shownWidth);
        for (int v = 0; v < out.height(); ++v) {
            for (int u = 0; u < out.width(); ++u) {
                auto [x, y] = c.from(u, v);
                EXPECT_EQ(out.pixel(u, v), source->bitmap()->pixel(x, y)) << u << "," << v;
            }
        }
    }
    EXPECT_EQ(tbx_imageByRotating(*source, O::Up)->bitmap(), source->bitmap());
}

TEST(ImageRotateTest, SidewaysRotationSwapsTheSizeAndKeepsTheScale) {
    auto image = Image::imageWithBitmap(Bitmap::create(200, 100));
    EXPECT_EQ(tbx_imageByRotating(*image, O::Right)->size(), (ui::Size{100, 200}));
    auto retina = Image::imageWithBitmap(Bitmap::create(200, 100), 2.0);
    auto rotated = tbx_imageByRotating(*retina, O::Left);
    EXPECT_EQ(rotated->scale(), 2.0);
    EXPECT_EQ(rotated->size(), (ui::Size{50, 100}));
    try {
        tbx_imageByRotating(*image, static_cast<O>(9));
        FAIL() << "no exception";
    } catch (const ns::Exception& e) {
        EXPECT_EQ(e.reason(), "Invalid orientation 9");
    }
}

TEST(FadeTruncatingLabelTest, MaskFadesTheChosenEnds) {
    ui::Rect rect{0, 0, 200, 20};
    auto none = NSDK_TBXFadeTruncatingLabel::getLinearGradient(rect, false, false)->bitmap();
    for (int x = 0; x < 200; x += 7) EXPECT_EQ(none->pixel(x, 10).red, 255) << x;

    // Fade width: min(2 × 20, 200 / 4) = 40.
    auto tail = NSDK_TBXFadeTruncatingLabel::getLinearGradient(rect, false, true)->bitmap();
    EXPECT_EQ(tail->pixel(0, 10).red, 255);
    EXPECT_EQ(tail->pixel(159, 10).red, 255);
    EXPECT_NEAR(tail->pixel(180, 10).red, 128, 8);
    EXPECT_LT(tail->pixel(199, 10).red, 8);

    auto both = NSDK_TBXFadeTruncatingLabel::getLinearGradient(rect, true, true)->bitmap();
    EXPECT_LT(both->pixel(0, 0).red, 8);
    EXPECT_EQ(both->pixel(100, 19).red, 255);
    EXPECT_LT(both->pixel(199, 0).red, 8);
    EXPECT_EQ(NSDK_TBXFadeTruncatingLabel::getLinearGradient({0, 0, 1e9, 10}, true, true), nullptr);
}

// The darkest pixel in columns [from, to) of what the label drew in black on white.
int darkest(const Bitmap& bitmap, int from, int to) {
    int min = 255;
    for (int x = from; x < to; ++x) {
        for (int y = 0; y < bitmap.height(); ++y) {
            min = std::min<int>(min, bitmap.pixel(x, y).red);
        }
    }
    return min;
}

// How much black there is in columns [from, to).
int ink(const Bitmap& bitmap, int from, int to) {
    int sum = 0;
    for (int x = from; x < to; ++x) {
        for (int y = 0; y < bitmap.height(); ++y) sum += 255 - bitmap.pixel(x, y).red;
    }
    return sum;
}

std::shared_ptr<const Bitmap> drawLabel(const std::string& text, int32_t mode) {
    auto label = NSDK_TBXFadeTruncatingLabel::create({0, 0, 60, 24});
    label->setText(text);
    label->setTruncateMode(mode);
    label->setTextColor(ui::Color::blackColor());
    auto context = ui::GraphicsContext::beginImageContext({60, 24}, true, 1);
    context->fillRect({0, 0, 60, 24}, ui::Color::whiteColor());
    label->drawTextInRect(*context, label->bounds());
    return context->makeImage()->bitmap();
}

TEST(FadeTruncatingLabelTest, OnlyTextThatDoesNotFitFades) {
    auto label = NSDK_TBXFadeTruncatingLabel::create({0, 0, 60, 24});
    EXPECT_EQ(label->truncateMode(), kTBXFadeTruncatingTail);
    EXPECT_EQ(label->lineBreakMode(), ui::Label::LineBreakMode::Clip);
    EXPECT_EQ(label->backgroundColor(), ui::Color::clearColor());

    std::string longText(40, 'M');
    auto clipped = drawLabel(longText, 0);
    auto faded = drawLabel(longText, kTBXFadeTruncatingTail);
    EXPECT_LT(darkest(*clipped, 54, 60), 128);                      // text runs to the edge
    EXPECT_GT(darkest(*faded, 57, 60), 200);                        // and fades out there
    EXPECT_GT(ink(*clipped, 45, 60), 3 * ink(*faded, 45, 60) / 2);  // the fade spans 45..60
    EXPECT_EQ(ink(*faded, 0, 40), ink(*clipped, 0, 40));            // the start is untouched

    // Short text is drawn as it is, whatever the mode.
    auto shortPlain = drawLabel("i", 0);
    auto shortFaded = drawLabel("i", kTBXFadeTruncatingHeadAndTail);
    EXPECT_GT(ink(*shortPlain, 0, 60), 0);
    for (int x = 0; x < 60; ++x) EXPECT_EQ(ink(*shortPlain, x, x + 1), ink(*shortFaded, x, x + 1));
}

TEST(FontLineHeightTest, LineHeightGrowsWithTheFont) {
    double small = tbx_lineHeight(*ui::Font::systemFontOfSize(10));
    double large = tbx_lineHeight(*ui::Font::systemFontOfSize(30));
    EXPECT_GT(small, 5);
    EXPECT_GT(large, 2.5 * small);
    EXPECT_EQ(large, std::ceil(large));
    EXPECT_EQ(ui::Font::fontWithName("", 10), nullptr);
    EXPECT_EQ(ui::Font::fontWithName("serif", 0), nullptr);
    // Bytes that are not text are measured, not refused.
    EXPECT_GT(ui::Font::systemFontOfSize(12)->sizeWithText("\xFF\xFE").width, 0);
}

}  // namespace
