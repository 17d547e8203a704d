#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/av/AlsaCapture.h"
#include "platform/av/Camera.h"
#include "platform/av/Microphone.h"
#include "platform/av/V4L2Capture.h"
#include "tests/support/TempDir.h"

namespace {

// A camera's YUYV picture comes out in the colours it shows: pairs of pixels share their
// colour, rows follow the device's stride, and a picture shorter than its size says is refused.
TEST(CaptureDevices, CameraPicturesInYUYVBecomeBitmaps) {
    // Two rows of two pixels, stride 6 (2 bytes of padding): black/white, then red.
    const std::vector<uint8_t> picture = {16, 128, 235, 128, 0, 0, 81, 90, 81, 240, 0, 0};
    auto bitmap = av::V4L2Capture::bitmapFromYUYV(picture.data(), picture.size(), 2, 2, 6);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->pixel(0, 0), (ui::Bitmap::Pixel{0, 0, 0, 255}));
    EXPECT_EQ(bitmap->pixel(1, 0), (ui::Bitmap::Pixel{255, 255, 255, 255}));
    const auto red = bitmap->pixel(0, 1);
    EXPECT_GT(red.red, 230);
    EXPECT_LT(red.green, 20);
    EXPECT_LT(red.blue, 20);
    EXPECT_FALSE(av::V4L2Capture::bitmapFromYUYV(picture.data(), 9, 2, 2, 6));
    EXPECT_FALSE(av::V4L2Capture::bitmapFromYUYV(picture.data(), picture.size(), 3, 2, 6));
}

// Devices are taken only when they are capture devices: nothing else is opened as one, and a
// launch argument naming one that is not there is refused without changing the source.
TEST(CaptureDevices, OnlyCaptureDevicesAreTaken) {
    testsupport::TempDir dir;
    EXPECT_FALSE(av::V4L2Capture::open("/dev/null"));
    EXPECT_FALSE(av::V4L2Capture::open((dir.path() / "missing").string()));
    EXPECT_FALSE(av::Camera::configure("/dev/video-not-there"));
    EXPECT_FALSE(av::AlsaCapture::open("no-such-sound-device", av::Microphone::kSampleRate));
    auto before = av::Microphone::shared();
    EXPECT_FALSE(av::Microphone::configure("alsa:no-such-sound-device"));
    EXPECT_EQ(av::Microphone::shared(), before);
}

}  // namespace
