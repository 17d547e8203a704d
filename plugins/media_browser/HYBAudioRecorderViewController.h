#pragma once

#include <memory>
#include <optional>
#include <string>

#include "bridge/HYBPluginResult.h"
#include "platform/av/AudioRecorder.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/ui/ViewController.h"

class HYBCapture;

// The recorder screen: one record/stop button, the running time and Done. Records one clip
// into a numbered WAV file of the temporary folder; Done sends the result to the page.
class HYBAudioRecorderViewController : public ui::ViewController, public av::AudioRecorderDelegate {
public:
    static constexpr const char* kFilePrefix = "audio_";

    HYBAudioRecorderViewController(std::shared_ptr<HYBCapture> command,
                                   std::optional<double> duration,
                                   std::optional<std::string> callbackId);
    ~HYBAudioRecorderViewController() override;

    void viewDidLoad() override;
    // The record/stop button.
    void processButton();
    // Done, or the end after a failure: sends the one result and closes the screen.
    void dismissAudioView();
    void updateTime();
    static std::string formatTime(int seconds);

    void audioRecorderDidFinishRecording(av::AudioRecorder& recorder, bool successfully) override;
    void audioRecorderEncodeErrorDidOccur(av::AudioRecorder& recorder,
                                          const ns::Error& error) override;
    ui::InterfaceOrientationMask supportedInterfaceOrientations() const override;

    // What the screen shows.
    const std::string& timerText() const { return timerText_; }
    bool doneEnabled() const { return doneEnabled_; }
    bool recordingShown() const { return recordingShown_; }
    const std::string& buttonImage() const { return buttonImage_; }
    std::shared_ptr<av::AudioRecorder> avRecorder() const { return avRecorder_; }
    int32_t errorCode() const { return errorCode_; }
    bool isTimed() const { return isTimed_; }

private:
    void stopRecordingCleanup();
    void stopTimer();

    int32_t errorCode_;
    std::optional<std::string> callbackId_;
    std::optional<double> duration_;
    std::shared_ptr<HYBCapture> captureCommand_;
    std::shared_ptr<av::AudioRecorder> avRecorder_;
    std::shared_ptr<HYBPluginResult> pluginResult_;
    dispatch::TimerId timer_ = 0;
    bool isTimed_;
    bool doneEnabled_ = false;
    bool recordingShown_ = false;
    bool dismissed_ = false;
    std::string timerText_ = "0:00";
    std::string buttonImage_ = "HYBCapture.bundle/record_button";
};
