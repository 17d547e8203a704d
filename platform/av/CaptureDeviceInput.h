#pragma once

#include <memory>

#include "platform/av/CaptureDevice.h"
#include "platform/ns/Result.h"

namespace av {

// A capture device as the input of a session.
class CaptureDeviceInput {
public:
    // An error when there is no device or it cannot deliver now.
    static ns::Result<std::shared_ptr<CaptureDeviceInput>> deviceInputWithDevice(
        const std::shared_ptr<CaptureDevice>& device);

    const std::shared_ptr<CaptureDevice>& device() const { return device_; }

private:
    explicit CaptureDeviceInput(std::shared_ptr<CaptureDevice> device)
        : device_(std::move(device)) {}

    std::shared_ptr<CaptureDevice> device_;
};

}  // namespace av
