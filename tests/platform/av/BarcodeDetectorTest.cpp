#include "platform/av/BarcodeDetector.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/av/QRCodeGenerator.h"
#include "tests/support/BarcodeFrames.h"

namespace {

// The generator's picture (one pixel per module) enlarged without smoothing, as a camera
// would see the printed code.
std::shared_ptr<ui::Bitmap> enlarged(const ui::Bitmap& code, int factor) {
    auto out = ui::Bitmap::create(code.width() * factor, code.height() * factor);
    if (!out) return nullptr;
    for (int y = 0; y < out->height(); ++y) {
        const auto* in =
            reinterpret_cast<const uint32_t*>(code.data() + size_t(y / factor) * code.stride());
        auto* row = reinterpret_cast<uint32_t*>(out->data() + size_t(y) * out->stride());
        for (int x = 0; x < out->width(); ++x) row[x] = in[x / factor];
    }
    out->markDirty();
    return out;
}

std::vector<std::string> textsIn(const av::BarcodeDetector& detector, const ui::Bitmap& frame) {
    std::vector<std::string> texts;
    for (const auto& object : detector.detect(frame)) {
        texts.push_back(object.stringValue().value_or("<no text>"));
    }
    return texts;
}

// Text with control characters is still text: the library calls such content binary, and a
// read without a text could never be accepted by a scan.
TEST(BarcodeDetector, CodesWithControlCharactersCarryTheirText) {
    const av::BarcodeDetector detector({av::AVMetadataObjectTypeQRCode});
    for (const std::string& text :
         {std::string("tab\there"), std::string("\x1b[1mbold\x1b[0m"), std::string("\x01"),
          std::string("line\r\nbreak\x7f"), std::string("nul\0inside", 10)}) {
        auto code = av::QRCodeGenerator::generate(text, av::QRCodeGenerator::CorrectionLevel::L);
        ASSERT_TRUE(code);
        auto frame = enlarged(*code, 8);
        ASSERT_TRUE(frame);
        EXPECT_EQ(textsIn(detector, *frame), std::vector<std::string>{text});
    }
}

// Two kinds come from one format of the library (interleaved 2 of 5, with or without the
// fourteen digits of an ITF-14 code): a read of the kind that was not asked for is dropped.
TEST(BarcodeDetector, KindsNotAskedForAreNotReported) {
    auto itf14 = mediatest::barcodeFrame("ITF", "10012345678902");
    auto itf = mediatest::barcodeFrame("ITF", "1234567890");
    ASSERT_TRUE(itf14 && itf);
    const av::BarcodeDetector plain({av::AVMetadataObjectTypeInterleaved2of5Code});
    const av::BarcodeDetector fourteen({av::AVMetadataObjectTypeITF14Code});
    EXPECT_TRUE(plain.detect(*itf14).empty());
    EXPECT_TRUE(fourteen.detect(*itf).empty());
    ASSERT_EQ(fourteen.detect(*itf14).size(), 1u);
    EXPECT_EQ(fourteen.detect(*itf14)[0].type(), av::AVMetadataObjectTypeITF14Code);
    ASSERT_EQ(plain.detect(*itf).size(), 1u);
    EXPECT_EQ(plain.detect(*itf)[0].type(), av::AVMetadataObjectTypeInterleaved2of5Code);
}

// A frame in which the library reads one linear code twice and, comparing the two reads,
// asserts, which ends the program: the code is read once, and the program goes on.
TEST(BarcodeDetector, AFrameTheLibraryTripsOnIsReadOnce) {
    std::ifstream in(std::string(HYB_SOURCE_DIR) + "/fuzz/corpus/barcode_frame/upce_read_twice",
                     std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GT(bytes.size(), 2u);
    // As the fuzz target lays it out: the width in the first bits, grey pixels after.
    const int width = 1 + (uint8_t(bytes[0]) | ((uint8_t(bytes[1]) & 1) << 8));
    const int height = int((bytes.size() - 2) / size_t(width));
    auto frame = ui::Bitmap::create(width, height, ui::Bitmap::Format::Gray8);
    ASSERT_TRUE(frame);
    for (int y = 0; y < height; ++y) {
        std::memcpy(frame->data() + size_t(y) * frame->stride(),
                    bytes.data() + 2 + size_t(y) * size_t(width), size_t(width));
    }
    frame->markDirty();
    const av::BarcodeDetector detector(av::BarcodeDetector::availableTypes());
    const auto found = detector.detect(*frame);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].type(), av::AVMetadataObjectTypeUPCECode);
}

}  // namespace
