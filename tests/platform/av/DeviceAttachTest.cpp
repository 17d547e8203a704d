#include <gtest/gtest.h>

#include "platform/av/Camera.h"
#include "platform/av/Microphone.h"

namespace {

// The machine's devices are looked for at first use; a source chosen before then is kept,
// and without a device the microphone hears its default tone.
TEST(DeviceAttach, AChoiceMadeBeforeFirstUseIsKept) {
    const auto camera = av::Camera::shared();
    const auto microphone = av::Microphone::shared();

    auto tone = av::Microphone::tone(880);
    av::Microphone::attachFirstDeviceWhenAsked();
    av::Microphone::setShared(tone);
    EXPECT_EQ(av::Microphone::shared(), tone);

    av::Camera::attachFirstDeviceWhenAsked();
    av::Camera::setShared(nullptr);
    EXPECT_EQ(av::Camera::shared(), nullptr);

    av::Microphone::setShared(nullptr);
    av::Microphone::attachFirstDeviceWhenAsked();
    auto heard = av::Microphone::shared();
    ASSERT_TRUE(heard);
    // This machine's sound card, if it has one; otherwise the default tone.
    if (heard->sampleAt(1) != 0)
        EXPECT_EQ(heard->sampleAt(1), av::Microphone::tone(440)->sampleAt(1));

    av::Camera::setShared(camera);
    av::Microphone::setShared(microphone);
}

}  // namespace
