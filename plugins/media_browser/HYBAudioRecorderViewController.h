#pragma once

#include <memory>
#include <optional>
#include <string>

#include "bridge/HYBPluginResult.h"
#include "platform/av/AudioRecorder.h"
#include "platform/av/AudioSession.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/ui/AdaptivePresentationControllerDelegate.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/ViewController.h"

class HYBCapture;

// The recorder screen: one record/stop button, the running time and Done. Records one clip
// into a numbered WAV file of the temporary folder; Done sends the result to the page.
class HYBAudioRecorderViewController : public ui::ViewController,
                                       public av::AudioRecorderDelegate,
                                       public ui::AdaptivePresentationControllerDelegate {
public:
    static constexpr const char* kFilePrefix = "audio_";

    HYBAudioRecorderViewController(std::shared_ptr<HYBCapture> command,
                                   std::optional<double> duration,
                                   std::optional<std::string> callbackId);
    ~HYBAudioRecorderViewController() override;

    void loadView() override;
    void viewDidLoad() override;
    // The status bar takes the screen's style while it shows; closing gives back the style
    // the application had when the screen was made.
    void viewWillAppear(bool animated) override;
    // The view is let go: the plug-in is free for the next recording.
    void viewDidUnload();
    // The record/stop button. Recording starts once the user has allowed the microphone and
    // the audio session holds it; a refusal closes the screen.
    void processButton();
    // Done, or the end after a failure: sends the one result and closes the screen.
    void dismissAudioView();
    void updateTime();
    static std::string formatTime(int seconds);

    void audioRecorderDidFinishRecording(av::AudioRecorder& recorder, bool successfully) override;
    void audioRecorderEncodeErrorDidOccur(av::AudioRecorder& recorder,
                                          const ns::Error& error) override;
    ui::InterfaceOrientationMask supportedInterfaceOrientations() const override;
    ui::StatusBar::Style preferredStatusBarStyle() const override {
        return ui::StatusBar::Style::Default;
    }
    // The user closed the screen's window: a recording in progress ends and is kept, then the
    // screen closes as with Done.
    void presentationControllerDidDismiss(ui::PresentationController&) override;
    // The name under which the platform's lookup finds an image of the main bundle
    // ("HYBCapture.bundle/microphone"): the name itself, or on systems before 4.0 a file name,
    // the pad's own ("NAME~ipad.png") on a pad where the bundle has one, else "NAME.png".
    static std::string resolveImageResource(const std::string& resource);

    // What the screen shows.
    std::string timerText() const { return timerLabel_->text().value_or(""); }
    const std::shared_ptr<ui::Label>& timerLabel() const { return timerLabel_; }
    bool doneEnabled() const { return doneButton_ && doneButton_->isEnabled(); }
    bool recordingShown() const { return recordingView_ && !recordingView_->isHidden(); }
    const std::shared_ptr<ui::Button>& recordButton() const { return recordButton_; }
    const std::shared_ptr<ui::BarButtonItem>& doneButton() const { return doneButton_; }
    std::shared_ptr<av::AudioRecorder> avRecorder() const { return avRecorder_; }
    int32_t errorCode() const { return errorCode_; }
    bool isTimed() const { return isTimed_; }

private:
    void startRecording();
    void stopRecordingCleanup();
    void stopTimer();
    void showTime(int seconds);
    std::string localized(const char* key) const;
    // Shows `resource` on the record button (a title stands in when the bundle has no image).
    void setButtonImage(const std::string& resource);
    std::shared_ptr<ui::Image> image(const std::string& name) const;

    int32_t errorCode_;
    std::optional<std::string> callbackId_;
    std::optional<double> duration_;
    std::shared_ptr<HYBCapture> captureCommand_;
    std::shared_ptr<av::AudioRecorder> avRecorder_;
    av::AudioSession* avSession_ = nullptr;  // the shared session, once the view has loaded
    std::shared_ptr<HYBPluginResult> pluginResult_;
    dispatch::TimerId timer_ = 0;
    bool isTimed_;
    bool dismissed_ = false;
    bool awaitingPermission_ = false;
    ui::StatusBar::Style previousStatusBarStyle_;
    std::string buttonImage_ = "HYBCapture.bundle/record_button";
    std::shared_ptr<ui::BarButtonItem> doneButton_;
    std::shared_ptr<ui::View> recordingView_;
    std::shared_ptr<ui::Button> recordButton_;
    std::shared_ptr<ui::Label> timerLabel_ = ui::Label::create();
};
