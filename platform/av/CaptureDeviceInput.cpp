#include "platform/av/CaptureDeviceInput.h"

#include "platform/ns/FaultSeam.h"

namespace av {

ns::Result<std::shared_ptr<CaptureDeviceInput>> CaptureDeviceInput::deviceInputWithDevice(
    const std::shared_ptr<CaptureDevice>& device) {
    if (!device || ns::injectedFault("capture.input")) {
        return ns::Error(kCaptureDeviceErrorDomain, -11814,
                         {{ns::kLocalizedDescriptionKey, "Cannot Record"}});
    }
    return std::shared_ptr<CaptureDeviceInput>(new CaptureDeviceInput(device));
}

}  // namespace av
