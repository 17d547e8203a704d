#include "plugins/media_browser/HYBbcsProcessor.h"

#include <algorithm>

#include "platform/av/CaptureDevice.h"
#include "platform/av/CaptureDeviceInput.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/Log.h"
#include "platform/ns/StringComponents.h"
#include "platform/ui/PresentationController.h"
#include "platform/ui/ViewController.h"
#include "plugins/media_browser/HYBBarcodeScanner.h"
#include "plugins/media_browser/HYBbcsViewController.h"

namespace {

struct FormatRow {
    const char* name;
    const av::MetadataObjectType* type;  // null: no type of its own
};

// The format names the page speaks of, in the order the watched list is built and a read's
// kind is tested. UPC-A has no kind of its own: it is an EAN-13 read starting with "0".
const FormatRow kFormats[] = {
    {"QR_CODE", &av::AVMetadataObjectTypeQRCode},
    {"AZTEC", &av::AVMetadataObjectTypeAztecCode},
    {"DATA_MATRIX", &av::AVMetadataObjectTypeDataMatrixCode},
    {"UPC_E", &av::AVMetadataObjectTypeUPCECode},
    {"UPC_A", nullptr},
    {"EAN_8", &av::AVMetadataObjectTypeEAN8Code},
    {"EAN_13", &av::AVMetadataObjectTypeEAN13Code},
    {"CODE_128", &av::AVMetadataObjectTypeCode128Code},
    {"CODE_93", &av::AVMetadataObjectTypeCode93Code},
    {"CODE_39", &av::AVMetadataObjectTypeCode39Code},
    {"ITF", &av::AVMetadataObjectTypeInterleaved2of5Code},
    {"ITF_14", &av::AVMetadataObjectTypeITF14Code},
    {"PDF_417", &av::AVMetadataObjectTypePDF417Code},
};

}  // namespace

HYBbcsProcessor::HYBbcsProcessor(std::shared_ptr<HYBBarcodeScanner> plugin,
                                 std::optional<std::string> callback,
                                 std::shared_ptr<ui::ViewController> parentViewController,
                                 std::optional<std::string> alternateXib)
    : plugin_(std::move(plugin)),
      callback_(std::move(callback)),
      parent_(std::move(parentViewController)),
      alternateXib_(std::move(alternateXib)) {
    if (auto path =
            ns::Bundle::mainBundle()->pathForResource("HYBBarcodeScanner.bundle/beep", "caf")) {
        beep_ = av::SystemSound::create(*path);
    }
}

HYBbcsProcessor::~HYBbcsProcessor() {
    if (beep_) av::SystemSound::dispose(beep_);
}

std::shared_ptr<av::CaptureVideoPreviewLayer> HYBbcsProcessor::previewLayer() const {
    dispatch::Lock lock(layerMutex_);
    return previewLayer_;
}

void HYBbcsProcessor::scanBarcode() {
    if (auto failure = setUpCaptureSession()) return barcodeScanFailed(*failure);
    screen_ = std::make_shared<HYBbcsViewController>(shared_from_this(), alternateXib_);
    screen_->setOrientationDelegate(
        std::dynamic_pointer_cast<HYBScreenOrientationDelegate>(parent_));
    screen_->presentationController().setDelegate(
        std::weak_ptr<ui::AdaptivePresentationControllerDelegate>(screen_));
    auto self = shared_from_this();
    dispatch::RunLoop::main().postAfter(dispatch::seconds(kPresentDelaySeconds),
                                        [self] { self->openDialog(); });
}

void HYBbcsProcessor::openDialog() {
    if (!screen_ || done_) return;
    if (parent_) parent_->presentViewController(screen_, isTransitionAnimated_);
    // A parent that shows another screen, or none, refuses: the page must not wait forever.
    if (!screen_->presentingViewController()) {
        barcodeScanFailed("unable to present the scanner screen");
    }
}

std::optional<std::string> HYBbcsProcessor::setUpCaptureSession() {
    session_ = av::CaptureSession::create();
    std::shared_ptr<av::CaptureDevice> device;
    if (isFrontCamera_) {
        for (const auto& candidate : av::CaptureDevice::devices()) {
            if (candidate->position() == av::CaptureDevicePosition::Front) device = candidate;
        }
    } else {
        device = av::CaptureDevice::defaultDevice();
    }
    if (!device) return "unable to obtain video capture device";
    if (device->lockForConfiguration().ok()) {
        if (device->isFocusModeSupported(av::CaptureFocusMode::ContinuousAutoFocus)) {
            device->setFocusMode(av::CaptureFocusMode::ContinuousAutoFocus);
        }
        if (device->isAutoFocusRangeRestrictionSupported()) {
            device->setAutoFocusRangeRestriction(av::CaptureAutoFocusRangeRestriction::Near);
        }
        device->unlockForConfiguration();
    }
    auto input = av::CaptureDeviceInput::deviceInputWithDevice(device);
    if (!input.ok()) return "unable to obtain video capture device input";
    auto output = av::CaptureMetadataOutput::create();
    if (!output.ok()) return "unable to obtain video capture output";
    output_ = output.value();
    output_->setMetadataObjectsDelegate(weak_from_this());
    if (session_->canSetSessionPreset(av::AVCaptureSessionPresetHigh)) {
        session_->setSessionPreset(av::AVCaptureSessionPresetHigh);
    } else if (session_->canSetSessionPreset(av::AVCaptureSessionPresetMedium)) {
        session_->setSessionPreset(av::AVCaptureSessionPresetMedium);
    } else {
        return "unable to preset high nor medium quality video capture";
    }
    if (!session_->canAddInput(input.value())) {
        return "unable to add video capture device input to session";
    }
    session_->addInput(input.value());
    if (!session_->canAddOutput(output_)) return "unable to add video capture output to session";
    session_->addOutput(output_);
    output_->setMetadataObjectTypes(formatObjectTypes());
    auto layer = av::CaptureVideoPreviewLayer::layerWithSession(session_);
    layer->setVideoGravity(av::LayerVideoGravity::ResizeAspectFill);
    {
        dispatch::Lock lock(layerMutex_);
        previewLayer_ = layer;
    }
    std::weak_ptr<av::CaptureSession> session = session_;
    dispatch::RunLoop::main().post([session] {
        if (auto running = session.lock()) running->startRunning();
    });
    return std::nullopt;
}

void HYBbcsProcessor::captureOutput(
    const std::vector<av::MetadataMachineReadableCodeObject>& objects) {
    if (!capturing_) return;
    const auto layer = previewLayer();
    try {
        for (const auto& object : objects) {
            const auto transformed =
                layer ? layer->transformedMetadataObjectForMetadataObject(object) : object;
            // A read without text cannot enter the history; the batch ends with it.
            if (!transformed.stringValue()) return;
            const std::string& text = *transformed.stringValue();
            if (checkResult(text)) {
                barcodeScanSucceeded(text, formatStringFromMetadata(transformed));
            }
        }
    } catch (const std::exception& error) {
        // A faulty batch is dropped; the capture goes on with the next one.
    }
}

bool HYBbcsProcessor::checkResult(const std::string& text) {
    results_.push_back(text);
    if (results_.size() > kAgreementCount) results_.pop_front();
    if (results_.size() < kAgreementCount) return false;
    return std::all_of(results_.begin(), results_.end(),
                       [&](const std::string& read) { return read == results_.front(); });
}

std::vector<av::MetadataObjectType> HYBbcsProcessor::formatObjectTypes() const {
    std::vector<av::MetadataObjectType> types;
    const std::vector<std::string_view> wanted =
        formats_ ? ns::componentsSeparatedByCharacter(*formats_, ',')
                 : std::vector<std::string_view>{};
    for (const auto& row : kFormats) {
        if (!row.type) continue;
        if (formats_ && std::find(wanted.begin(), wanted.end(), row.name) == wanted.end()) continue;
        types.push_back(*row.type);
    }
    return types;
}

std::string HYBbcsProcessor::formatStringFromMetadata(
    const av::MetadataMachineReadableCodeObject& object) const {
    for (const auto& row : kFormats) {
        if (!row.type) {
            // The UPC-A row, tested before the EAN rows.
            if (object.type() == av::AVMetadataObjectTypeEAN13Code && object.stringValue() &&
                object.stringValue()->starts_with("0")) {
                return row.name;
            }
            continue;
        }
        if (object.type() == *row.type) return row.name;
    }
    return "???";
}

void HYBbcsProcessor::barcodeScanSucceeded(const std::string& text, const std::string& format) {
    auto self = shared_from_this();
    dispatch::Queue::main().sync([&] {
        // Several equal reads of one batch, or a batch that began before a cancel or a flip,
        // must not answer again or answer for a screen that is gone.
        if (!capturing_ || done_.exchange(true)) return;
        if (isSuccessBeepEnabled_) av::SystemSound::play(beep_);
        barcodeScanDone([self, text, format] {
            self->plugin_->returnSuccess(text, format, false, false, self->callback_);
        });
    });
}

void HYBbcsProcessor::barcodeScanFailed(const std::string& message) {
    auto self = shared_from_this();
    dispatch::Queue::main().sync([&] {
        if (done_.exchange(true)) return;
        barcodeScanDone([self, message] { self->plugin_->returnError(message, self->callback_); });
    });
}

void HYBbcsProcessor::barcodeScanCancelled() {
    if (done_.exchange(true)) return;
    auto self = shared_from_this();
    const bool flipped = isFlipped_;
    barcodeScanDone(
        [self, flipped] { self->plugin_->returnSuccess("", "", true, flipped, self->callback_); });
    if (isFlipped_) isFlipped_ = false;
}

void HYBbcsProcessor::flipCamera() {
    if (done_ || isFlipped_) return;
    isFlipped_ = true;
    isFrontCamera_ = !isFrontCamera_;
    auto self = shared_from_this();
    barcodeScanDone([self] {
        if (self->isFlipped_) self->isFlipped_ = false;
        dispatch::RunLoop::main().postAfter(dispatch::seconds(kFlipRestartDelaySeconds), [self] {
            if (!self->done_) self->scanBarcode();
        });
    });
}

void HYBbcsProcessor::toggleTorch() {
    auto device = av::CaptureDevice::defaultDevice();
    if (!device || !device->lockForConfiguration().ok()) return;
    // A custom overlay may offer the torch on a camera that lacks the torch or the flash: what
    // the camera has is switched, and a light that is on goes off again, whichever it is.
    if (device->isFlashActive() || device->isTorchActive()) {
        device->setTorchMode(av::CaptureTorchMode::Off);
        device->setFlashMode(av::CaptureFlashMode::Off);
    } else {
        if (device->hasTorch()) {
            const auto lit =
                device->setTorchModeOnWithLevel(av::CaptureDevice::kMaxAvailableTorchLevel);
            if (!lit.ok()) {
                ns::nslog("The torch could not be switched on: %@",
                          lit.error().localizedDescription());
            }
        }
        if (device->hasFlash()) device->setFlashMode(av::CaptureFlashMode::On);
    }
    device->unlockForConfiguration();
}

void HYBbcsProcessor::barcodeScanDone(std::function<void()> completion) {
    dispatch::RunLoop::requireMainThread("HYBbcsProcessor::barcodeScanDone");
    capturing_ = false;
    if (session_) session_->stopRunning();
    auto presenter = screen_ ? screen_->presentingViewController() : nullptr;
    if (presenter) {
        presenter->dismissViewController(isTransitionAnimated_, std::move(completion));
    } else {
        // No screen is up (set-up failed, or it was never shown): nothing to dismiss, and the
        // answer must reach the page all the same.
        dispatch::RunLoop::main().post(std::move(completion));
    }
    if (auto device = av::CaptureDevice::defaultDevice();
        device && device->lockForConfiguration().ok()) {
        if (device->isAutoFocusRangeRestrictionSupported()) {
            device->setAutoFocusRangeRestriction(av::CaptureAutoFocusRangeRestriction::None);
        }
        device->unlockForConfiguration();
    }
    screen_.reset();
}
