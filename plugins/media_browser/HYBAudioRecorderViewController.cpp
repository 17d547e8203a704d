#include "plugins/media_browser/HYBAudioRecorderViewController.h"

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBViewController.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Format.h"
#include "platform/ns/Log.h"
#include "platform/ns/Sandbox.h"
#include "platform/ui/ApplicationDelegate.h"
#include "plugins/media_browser/HYBCapture.h"
#include "plugins/media_browser/ZIVPhotoPipeline.h"

namespace {

constexpr dispatch::Duration kTimerInterval = std::chrono::milliseconds(500);

}  // namespace

HYBAudioRecorderViewController::HYBAudioRecorderViewController(
    std::shared_ptr<HYBCapture> command, std::optional<double> duration,
    std::optional<std::string> callbackId)
    : errorCode_(HYBCaptureErrorNoMediaFiles),
      callbackId_(std::move(callbackId)),
      duration_(duration),
      captureCommand_(std::move(command)),
      isTimed_(duration.has_value()) {}

HYBAudioRecorderViewController::~HYBAudioRecorderViewController() {
    stopTimer();
}

void HYBAudioRecorderViewController::viewDidLoad() {
    // The clip's name is claimed now, so that a second recorder never takes the same one.
    auto claimed = ZIVPhotoPipeline::writeNumbered(ns::Sandbox::temporaryDirectory(), kFilePrefix,
                                                   "wav", ns::Data());
    auto recorder = claimed.ok() ? av::AudioRecorder::create(claimed.value())
                                 : ns::Result<std::shared_ptr<av::AudioRecorder>>(claimed.error());
    if (!recorder.ok()) {
        ns::nslog("Failed to initialize AVAudioRecorder: %@\n",
                  recorder.error().localizedDescription());
        errorCode_ = HYBCaptureErrorInternal;
        return dismissAudioView();
    }
    avRecorder_ = recorder.value();
    avRecorder_->setDelegate(std::weak_ptr<av::AudioRecorderDelegate>(
        std::static_pointer_cast<HYBAudioRecorderViewController>(shared_from_this())));
    avRecorder_->prepareToRecord();
    doneEnabled_ = true;
}

void HYBAudioRecorderViewController::processButton() {
    if (!avRecorder_) return;
    if (avRecorder_->isRecording()) {
        isTimed_ = false;
        avRecorder_->stop();
        return;
    }
    buttonImage_ = "HYBCapture.bundle/stop_button";
    recordingShown_ = true;
    const bool started =
        duration_ ? avRecorder_->recordForDuration(*duration_) : avRecorder_->record();
    if (!started) {
        errorCode_ = HYBCaptureErrorInternal;
        return dismissAudioView();
    }
    isTimed_ = duration_.has_value();
    timerText_ = "0:00";
    std::weak_ptr<HYBAudioRecorderViewController> weak =
        std::static_pointer_cast<HYBAudioRecorderViewController>(shared_from_this());
    stopTimer();
    timer_ = dispatch::RunLoop::main().scheduleRepeating(kTimerInterval, [weak] {
        if (auto self = weak.lock()) self->updateTime();
    });
    doneEnabled_ = false;
}

void HYBAudioRecorderViewController::updateTime() {
    if (avRecorder_) timerText_ = formatTime(static_cast<int>(avRecorder_->currentTime()));
}

std::string HYBAudioRecorderViewController::formatTime(int seconds) {
    if (seconds <= 59) return ns::format("0:%02d", seconds);
    return ns::format("%d:%02d", seconds / 60, seconds % 60);
}

void HYBAudioRecorderViewController::stopTimer() {
    if (timer_) dispatch::RunLoop::main().cancel(timer_);
    timer_ = 0;
}

void HYBAudioRecorderViewController::stopRecordingCleanup() {
    if (avRecorder_ && avRecorder_->isRecording()) avRecorder_->stop();
    buttonImage_ = "HYBCapture.bundle/record_button";
    recordingShown_ = false;
    doneEnabled_ = true;
}

void HYBAudioRecorderViewController::audioRecorderDidFinishRecording(av::AudioRecorder& recorder,
                                                                     bool successfully) {
    stopTimer();
    updateTime();
    stopRecordingCleanup();
    if (successfully) {
        pluginResult_ = HYBPluginResult::resultWithStatusMessageAsArray(
            HYBResultStatusOK,
            {captureCommand_->getMediaDictionaryFromPath(recorder.path(), "audio/wav")});
    } else {
        pluginResult_ = HYBPluginResult::resultWithStatusMessageToErrorObject(
            HYBResultStatusIOError, HYBCaptureErrorInternal);
    }
}

void HYBAudioRecorderViewController::audioRecorderEncodeErrorDidOccur(av::AudioRecorder&,
                                                                      const ns::Error&) {
    stopTimer();
    stopRecordingCleanup();
    ns::nslog("error recording audio");
    pluginResult_ = HYBPluginResult::resultWithStatusMessageToErrorObject(HYBResultStatusIOError,
                                                                          HYBCaptureErrorInternal);
    dismissAudioView();
}

void HYBAudioRecorderViewController::dismissAudioView() {
    if (dismissed_) return;
    dismissed_ = true;
    stopTimer();
    if (auto host = captureCommand_->viewController()) host->dismissViewController(true);
    if (!pluginResult_) {
        pluginResult_ =
            HYBPluginResult::resultWithStatusMessageToErrorObject(HYBResultStatusError, errorCode_);
    }
    if (avRecorder_) avRecorder_->setDelegate({});
    avRecorder_.reset();
    captureCommand_->setInUse(false);
    if (auto delegate = captureCommand_->commandDelegate()) {
        delegate->sendPluginResult(pluginResult_, callbackId_);
    }
}

ui::InterfaceOrientationMask HYBAudioRecorderViewController::supportedInterfaceOrientations()
    const {
    ui::InterfaceOrientationMask mask = ui::kInterfaceOrientationMaskPortrait;
    auto host = captureCommand_->viewController();
    if (host && (host->supportedInterfaceOrientations() &
                 ui::kInterfaceOrientationMaskPortraitUpsideDown)) {
        mask |= ui::kInterfaceOrientationMaskPortraitUpsideDown;
    }
    return mask;
}
