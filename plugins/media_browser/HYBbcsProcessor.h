#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/av/CaptureMetadataOutput.h"
#include "platform/av/CaptureSession.h"
#include "platform/av/CaptureVideoPreviewLayer.h"
#include "platform/av/SystemSound.h"
#include "platform/dispatch/Mutex.h"

namespace ui {
class ViewController;
}  // namespace ui

class HYBBarcodeScanner;
class HYBbcsViewController;

// Carries out one `scan` call: builds the camera session with a metadata output, presents
// the scanner screen over the root view controller, accepts a reading once the last
// kAgreementCount reads carried one and the same text, beeps, and on success, cancel or
// failure stops the camera, dismisses the screen and answers the page exactly once. A camera
// flip ends the screen and the session and starts them again on the other camera, without an
// answer.
//
// Reads arrive on the metadata output's low-priority worker; every outcome is carried out on
// the main thread.
class HYBbcsProcessor : public av::CaptureMetadataOutputObjectsDelegate,
                        public std::enable_shared_from_this<HYBbcsProcessor> {
public:
    static constexpr size_t kAgreementCount = 7;
    static constexpr double kPresentDelaySeconds = 1.0;
    static constexpr double kFlipRestartDelaySeconds = 0.1;

    HYBbcsProcessor(std::shared_ptr<HYBBarcodeScanner> plugin, std::optional<std::string> callback,
                    std::shared_ptr<ui::ViewController> parentViewController,
                    std::optional<std::string> alternateXib);
    ~HYBbcsProcessor() override;

    void scanBarcode();
    void openDialog();
    // Nothing on success, else the text of what failed.
    std::optional<std::string> setUpCaptureSession();

    void captureOutput(const std::vector<av::MetadataMachineReadableCodeObject>& objects) override;
    bool checkResult(const std::string& text);
    std::vector<av::MetadataObjectType> formatObjectTypes() const;
    std::string formatStringFromMetadata(const av::MetadataMachineReadableCodeObject& object) const;

    void barcodeScanSucceeded(const std::string& text, const std::string& format);
    void barcodeScanFailed(const std::string& message);
    void barcodeScanCancelled();
    void flipCamera();
    void toggleTorch();
    void barcodeScanDone(std::function<void()> completion);

    // The answer has been decided (success, cancel or failure); nothing is answered after it.
    bool isDone() const { return done_; }

    bool is1D() const { return is1D_; }
    bool is2D() const { return is2D_; }
    bool capturing() const { return capturing_; }
    void setCapturing(bool on) { capturing_ = on; }
    bool isFrontCamera() const { return isFrontCamera_; }
    void setIsFrontCamera(bool on) { isFrontCamera_ = on; }
    bool isShowFlipCameraButton() const { return isShowFlipCameraButton_; }
    void setIsShowFlipCameraButton(bool on) { isShowFlipCameraButton_ = on; }
    bool isShowTorchButton() const { return isShowTorchButton_; }
    void setIsShowTorchButton(bool on) { isShowTorchButton_ = on; }
    bool isFlipped() const { return isFlipped_; }
    void setIsFlipped(bool on) { isFlipped_ = on; }
    bool isTransitionAnimated() const { return isTransitionAnimated_; }
    void setIsTransitionAnimated(bool on) { isTransitionAnimated_ = on; }
    bool isSuccessBeepEnabled() const { return isSuccessBeepEnabled_; }
    void setIsSuccessBeepEnabled(bool on) { isSuccessBeepEnabled_ = on; }
    const std::shared_ptr<HYBBarcodeScanner>& plugin() const { return plugin_; }
    const std::optional<std::string>& callback() const { return callback_; }
    std::shared_ptr<ui::ViewController> parentViewController() const { return parent_; }
    const std::shared_ptr<HYBbcsViewController>& viewController() const { return screen_; }
    const std::shared_ptr<av::CaptureSession>& captureSession() const { return session_; }
    std::shared_ptr<av::CaptureVideoPreviewLayer> previewLayer() const;
    const std::optional<std::string>& alternateXib() const { return alternateXib_; }
    const std::optional<std::string>& formats() const { return formats_; }
    void setFormats(std::optional<std::string> formats) { formats_ = std::move(formats); }
    // The recent reads, oldest first (metadata worker only).
    const std::deque<std::string>& results() const { return results_; }

private:
    bool is1D_ = true;
    bool is2D_ = true;
    std::atomic<bool> capturing_ = false;
    std::atomic<bool> done_ = false;
    bool isFrontCamera_ = false;
    bool isShowFlipCameraButton_ = false;
    bool isShowTorchButton_ = false;
    bool isFlipped_ = false;
    bool isTransitionAnimated_ = true;
    bool isSuccessBeepEnabled_ = true;
    std::shared_ptr<HYBBarcodeScanner> plugin_;
    std::optional<std::string> callback_;
    std::shared_ptr<ui::ViewController> parent_;
    std::shared_ptr<HYBbcsViewController> screen_;
    std::shared_ptr<av::CaptureSession> session_;
    std::shared_ptr<av::CaptureMetadataOutput> output_;
    mutable dispatch::Mutex layerMutex_;  // the worker reads the layer that a flip replaces
    std::shared_ptr<av::CaptureVideoPreviewLayer> previewLayer_ GUARDED_BY(layerMutex_);
    std::optional<std::string> alternateXib_;
    std::deque<std::string> results_;
    std::optional<std::string> formats_;
    // This session's own beep: a later session's end cannot take it away.
    av::SystemSound::SoundID beep_ = 0;
};
