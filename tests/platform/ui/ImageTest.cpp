#include "platform/ui/Image.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/ImageCodec.h"

namespace {

using ui::Bitmap;
using Pixel = Bitmap::Pixel;

std::shared_ptr<Bitmap> filled(int width, int height, const std::function<Pixel(int, int)>& at) {
    auto bitmap = Bitmap::create(width, height);
    uint8_t* data = bitmap->data();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Pixel p = at(x, y);
            auto pre = [&](uint8_t c) { return static_cast<uint32_t>((c * p.alpha + 127) / 255); };
            uint32_t argb =
                (uint32_t{p.alpha} << 24) | (pre(p.red) << 16) | (pre(p.green) << 8) | pre(p.blue);
            std::memcpy(data + static_cast<size_t>(y) * bitmap->stride() + x * 4, &argb, 4);
        }
    }
    bitmap->markDirty();
    return bitmap;
}

// A PNG that states the given size and holds no pixels.
ns::Data pngHeaderOnly(uint32_t width, uint32_t height) {
    std::vector<uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto be32 = [&](uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<uint8_t>(v >> shift));
    };
    be32(13);
    size_t chunkStart = out.size();
    for (char c : std::string("IHDR")) out.push_back(static_cast<uint8_t>(c));
    be32(width);
    be32(height);
    for (uint8_t b : {8, 6, 0, 0, 0}) out.push_back(b);  // 8-bit RGBA
    be32(static_cast<uint32_t>(crc32(0, out.data() + chunkStart, out.size() - chunkStart)));
    return ns::Data(out.data(), out.size());
}

// A JPEG that states the given size: start of image, frame header, scan header.
ns::Data jpegHeaderOnly(uint16_t width, uint16_t height) {
    std::vector<uint8_t> out{0xFF,
                             0xD8,
                             0xFF,
                             0xC0,
                             0x00,
                             0x0B,
                             0x08,
                             static_cast<uint8_t>(height >> 8),
                             static_cast<uint8_t>(height),
                             static_cast<uint8_t>(width >> 8),
                             static_cast<uint8_t>(width),
                             0x01,
                             0x01,
                             0x11,
                             0x00,
                             0xFF,
                             0xDA,
                             0x00,
                             0x08,
                             0x01,
                             0x01,
                             0x00,
                             0x00,
                             0x3F,
                             0x00};
    out.insert(out.end(), 64, 0x00);
    return ns::Data(out.data(), out.size());
}

TEST(ImageCodecTest, PNGRoundTripKeepsEveryPixel) {
    auto bitmap = filled(7, 5, [](int x, int y) {
        if (x == 0) return Pixel{};  // fully transparent column
        return Pixel{static_cast<uint8_t>(x * 30), static_cast<uint8_t>(y * 50), 200, 255};
    });
    auto png = ui::Image::imageWithBitmap(bitmap)->pngData();
    ASSERT_TRUE(png);
    EXPECT_TRUE(ui::ImageCodec::isPNG(*png));
    auto back = ui::Image::imageWithData(*png);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->bitmap()->width(), 7);
    ASSERT_EQ(back->bitmap()->height(), 5);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) EXPECT_EQ(back->bitmap()->pixel(x, y), bitmap->pixel(x, y));
    }
}

TEST(ImageCodecTest, JPEGRoundTripKeepsSizeAndColours) {
    auto bitmap = filled(32, 16, [](int x, int) {
        return x < 16 ? Pixel{200, 30, 30, 255} : Pixel{30, 30, 200, 255};
    });
    auto jpeg = ui::Image::imageWithBitmap(bitmap)->jpegData(0.9);
    ASSERT_TRUE(jpeg);
    EXPECT_TRUE(ui::ImageCodec::isJPEG(*jpeg));
    auto back = ui::Image::imageWithData(*jpeg, 2.0);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->size(), (ui::Size{16, 8}));
    Pixel left = back->bitmap()->pixel(4, 8);
    Pixel right = back->bitmap()->pixel(28, 8);
    EXPECT_NEAR(left.red, 200, 12);
    EXPECT_NEAR(left.blue, 30, 12);
    EXPECT_NEAR(right.blue, 200, 12);
    EXPECT_EQ(right.alpha, 255);
    EXPECT_LT(ui::Image::imageWithBitmap(bitmap)->jpegData(0.1)->length(), jpeg->length());
}

// Opaque rows go to the encoder as they stand, translucent ones are made straight first: both
// must come out in their straight colours, whatever the row's neighbours are.
TEST(ImageCodecTest, JPEGOfTranslucentRowsKeepsTheirStraightColours) {
    // The last band is opaque but for its last pixel on each row.
    auto bitmap = filled(16, 64, [](int x, int y) {
        const bool translucent = (y / 16) % 2 == 1 && (y < 48 || x == 15);
        return Pixel{200, 30, 30, uint8_t(translucent ? 128 : 255)};
    });
    auto jpeg = ui::ImageCodec::encodeJPEG(*bitmap, 0.95);
    ASSERT_TRUE(jpeg);
    auto back = ui::ImageCodec::decode(*jpeg);
    ASSERT_TRUE(back);
    for (int y : {8, 24, 40, 56}) {
        SCOPED_TRACE(y);
        EXPECT_NEAR(back->pixel(8, y).red, 200, 8);
        EXPECT_NEAR(back->pixel(8, y).green, 30, 8);
        EXPECT_EQ(back->pixel(8, y).alpha, 255);
        EXPECT_NEAR(back->pixel(15, y).red, 200, 24);
    }
}

TEST(ImageCodecTest, WhatIsNoImageOrTooLargeDecodesToNothing) {
    EXPECT_EQ(ui::Image::imageWithData(ns::Data()), nullptr);
    EXPECT_EQ(ui::Image::imageWithData(ns::Data::fromString("GIF89a")), nullptr);
    // Stated sizes beyond the cap are refused before any pixel memory is taken.
    EXPECT_EQ(ui::Image::imageWithData(pngHeaderOnly(100000, 100000)), nullptr);
    EXPECT_EQ(ui::Image::imageWithData(pngHeaderOnly(20000, 1)), nullptr);
    EXPECT_EQ(ui::Image::imageWithData(jpegHeaderOnly(65000, 65000)), nullptr);
    // Within the cap, but cut off: still nothing.
    EXPECT_EQ(ui::Image::imageWithData(pngHeaderOnly(10, 10)), nullptr);
    EXPECT_EQ(ui::Image::imageWithData(jpegHeaderOnly(8, 8)), nullptr);
    auto png = *ui::Image::imageWithBitmap(Bitmap::create(4, 4))->pngData();
    EXPECT_EQ(ui::Image::imageWithData(ns::Data(png.bytes(), png.length() / 2)), nullptr);
}

TEST(ImageCodecTest, CanvasSizesAreCappedBeforeAllocation) {
    EXPECT_FALSE(Bitmap::create(0, 10));
    EXPECT_FALSE(Bitmap::create(Bitmap::kMaxDimension + 1, 1));
    EXPECT_FALSE(Bitmap::create(10000, 10000));
    EXPECT_TRUE(Bitmap::create(Bitmap::kMaxDimension, 1));
    EXPECT_FALSE(ui::GraphicsContext::beginImageContext({1e12, 1e12}, false, 1));
    EXPECT_FALSE(ui::GraphicsContext::beginImageContext({100, 100}, false, 1e9));
    EXPECT_FALSE(ui::GraphicsContext::beginImageContext({-5, 10}, false, 1));
    EXPECT_FALSE(ui::GraphicsContext::beginImageContext({NAN, 10}, false, 1));
    auto context = ui::GraphicsContext::beginImageContext({10.2, 3}, true, 2);
    ASSERT_TRUE(context);
    EXPECT_EQ(context->bitmap()->width(), 21);
    EXPECT_EQ(context->bitmap()->pixel(0, 0), (Pixel{0, 0, 0, 255}));
}

TEST(ImageTest, SidewaysOrientationsSwapTheShownSize) {
    auto bitmap = Bitmap::create(40, 20);
    using O = ui::Image::Orientation;
    EXPECT_EQ(ui::Image::imageWithBitmap(bitmap, 2.0, O::Up)->size(), (ui::Size{20, 10}));
    EXPECT_EQ(ui::Image::imageWithBitmap(bitmap, 1.0, O::Right)->size(), (ui::Size{20, 40}));
    EXPECT_EQ(ui::Image::imageWithBitmap(bitmap, 1.0, O::LeftMirrored)->size(), (ui::Size{20, 40}));
    EXPECT_EQ(ui::Image::imageWithBitmap(nullptr), nullptr);
    EXPECT_EQ(ui::Image::imageWithBitmap(bitmap, 0), nullptr);
}

TEST(GraphicsContextTest, MaskHidesWhatIsBlack) {
    auto mask = ui::GraphicsContext::beginImageContext({4, 1}, false, 1, Bitmap::Format::Gray8);
    mask->fillRect({0, 0, 4, 1}, ui::Color::whiteColor());
    mask->fillRect({2, 0, 2, 1}, ui::Color::blackColor());
    auto maskImage = mask->makeImage();
    EXPECT_EQ(maskImage->bitmap()->pixel(0, 0), (Pixel{255, 255, 255, 255}));
    EXPECT_EQ(maskImage->bitmap()->pixel(3, 0), (Pixel{0, 0, 0, 255}));

    auto canvas = ui::GraphicsContext::beginImageContext({4, 1}, false, 1);
    canvas->saveGState();
    canvas->clipToMask({0, 0, 4, 1}, *maskImage->bitmap());
    canvas->fillRect({0, 0, 4, 1}, ui::Color::redColor());
    canvas->restoreGState();
    canvas->fillRect({3, 0, 1, 1}, ui::Color::blueColor());  // no mask any more
    auto out = canvas->makeImage()->bitmap();
    EXPECT_EQ(out->pixel(1, 0), (Pixel{255, 0, 0, 255}));
    EXPECT_EQ(out->pixel(2, 0), Pixel{});
    EXPECT_EQ(out->pixel(3, 0), (Pixel{0, 0, 255, 255}));
}

}  // namespace
