#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/av/AssetImageGenerator.h"
#include "platform/av/BarcodeCodec.h"
#include "platform/av/BarcodeDetector.h"
#include "platform/av/CaptureMetadataOutput.h"
#include "platform/av/QRCodeGenerator.h"
#include "platform/av/VideoCodec.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/rt/ModuleLoader.h"
#include "platform/testing/ScopedSharedInstance.h"

namespace {

// Video frames and barcodes come from codecs that the host loads as modules; this program
// links them in, so that they are found from the start.
TEST(CodecModules, LinkedCodecsAreFound) {
    EXPECT_TRUE(av::VideoCodec::loaded());
    EXPECT_TRUE(av::BarcodeCodec::loaded());
    EXPECT_TRUE(av::QRCodeGenerator::isAvailable());
    EXPECT_TRUE(av::QRCodeGenerator::generate("hello", av::QRCodeGenerator::CorrectionLevel::L));
}

// Without their modules (a host whose modules are not beside it), each user of a codec
// answers its error, and nothing ends the program.
TEST(CodecModules, WithoutTheirModulesEachUserAnswersItsError) {
    ns::ScopedSharedInstance<rt::ModuleLoader> loader;
    ns::ScopedSharedInstance<rt::ClassRegistry> registry;
    rt::ModuleLoader::shared().provide(av::VideoCodec::kClassName, "/nonexistent/hybrid-video.so");
    rt::ModuleLoader::shared().provide(av::BarcodeCodec::kClassName,
                                       "/nonexistent/hybrid-codes.so");

    char path[] = "/tmp/codec-modules-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const auto url = ns::URL::fileURLWithPath(path);
    auto frame = av::AssetImageGenerator(url).copyCGImageAtTime(0);
    ASSERT_FALSE(frame.ok());
    EXPECT_EQ(frame.error().localizedDescription(), "The media libraries are not available.");
    EXPECT_FALSE(av::AssetImageGenerator::loadTrackInfo(url).ok());
    ::unlink(path);

    EXPECT_FALSE(av::QRCodeGenerator::isAvailable());
    EXPECT_EQ(av::QRCodeGenerator::generate("hello", av::QRCodeGenerator::CorrectionLevel::L),
              nullptr);
    auto output = av::CaptureMetadataOutput::create();
    ASSERT_FALSE(output.ok());
    EXPECT_NE(output.error().localizedDescription().find("barcode libraries"), std::string::npos);
    auto frameBitmap = ui::Bitmap::create(64, 64);
    ASSERT_TRUE(frameBitmap);
    EXPECT_TRUE(av::BarcodeDetector({av::AVMetadataObjectTypeQRCode}).detect(*frameBitmap).empty());
}

}  // namespace
