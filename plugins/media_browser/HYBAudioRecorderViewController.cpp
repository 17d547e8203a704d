#include "plugins/media_browser/HYBAudioRecorderViewController.h"

#include <algorithm>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPlugin+HYBPluginResources.h"
#include "bridge/HYBViewController.h"
#include "platform/av/AudioSession.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/Format.h"
#include "platform/ns/Log.h"
#include "platform/ns/Sandbox.h"
#include "platform/ui/ApplicationDelegate.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Device.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/PresentationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/StatusBar.h"
#include "plugins/media_browser/HYBCapture.h"
#include "plugins/media_browser/ZIVPhotoPipeline.h"
#include "toolbox/Foundation/NSDK_TBXSystemVersion.h"

namespace {

constexpr dispatch::Duration kTimerInterval = std::chrono::milliseconds(500);
// How long after a timed recording's end its completion is announced.
constexpr dispatch::Duration kAnnouncementDelay = std::chrono::milliseconds(500);
constexpr const char* kTimeHintKey = "recorded time in minutes and seconds";
constexpr const char* kToggleLabelKey = "toggle audio recording";
constexpr const char* kTimedCompleteKey = "timed recording complete";
constexpr const char* kBundlePrefix = "HYBCapture.bundle/";
// Sizes of the screen's parts when the plug-in's bundle has no images for them. Without its
// image the microphone band takes what the screen has left under the navigation bar, at least
// this much, so that the controls sit at the bottom and nothing below them is left undrawn.
constexpr double kMicrophoneHeight = 300;
constexpr double kControlsHeight = 120;
constexpr double kRecordingHeight = 60;
constexpr double kButtonSide = 72;

std::shared_ptr<ui::View> band(ui::Rect frame, const std::shared_ptr<ui::Image>& image,
                               ui::Color fallback) {
    auto view = ui::View::create(frame);
    view->setUserInteractionEnabled(false);
    view->setBackgroundColor(fallback);
    if (image) {
        auto picture = ui::ImageView::create(image);
        picture->setFrame({{0, 0}, frame.size});
        picture->setAutoresizingMask(ui::kAutoresizingFlexibleWidth);
        view->addSubview(picture);
    }
    return view;
}

// The status bar's style is the screen's while it shows (on systems that let a screen say).
bool setsStatusBarStyle() {
    return NSDK_TBXSystemVersion::isSystemVersionAtLeast("7.0");
}

void postAccessibility(ui::AccessibilityNotification notification,
                       std::optional<std::string> argument = std::nullopt) {
    ui::AccessibilityNotifications::post(notification, std::move(argument));
}

// Lets the microphone go: the session turns to play-and-record and becomes inactive. Errors
// change nothing for the screen.
void releaseAudioSession(av::AudioSession& session) {
    if (!session.setCategory(av::AudioSession::Category::PlayAndRecord).ok() ||
        !session.setActive(false).ok()) {
        ns::nslog("The audio session could not let the microphone go.");
    }
}

}  // namespace

HYBAudioRecorderViewController::HYBAudioRecorderViewController(
    std::shared_ptr<HYBCapture> command, std::optional<double> duration,
    std::optional<std::string> callbackId)
    : errorCode_(HYBCaptureErrorNoMediaFiles),
      callbackId_(std::move(callbackId)),
      duration_(duration),
      captureCommand_(std::move(command)),
      isTimed_(duration.has_value()),
      previousStatusBarStyle_(ui::StatusBar::shared().style()) {}

HYBAudioRecorderViewController::~HYBAudioRecorderViewController() {
    stopTimer();
}

std::string HYBAudioRecorderViewController::resolveImageResource(const std::string& resource) {
    if (NSDK_TBXSystemVersion::isSystemVersionAtLeast("4.0")) {
        return resource;
    }
    // Older systems take file names: a pad's own picture where the bundle has one.
    if (ui::Device::current().userInterfaceIdiom() == ui::Device::Idiom::Pad) {
        const std::string pad = ns::format("%@~ipad.png", resource);
        auto bundle = ns::Bundle::mainBundle();
        if (bundle && bundle->pathForResource(pad, "")) return pad;
    }
    return ns::format("%@.png", resource);
}

std::shared_ptr<ui::Image> HYBAudioRecorderViewController::image(const std::string& name) const {
    return ui::Image::imageNamed(resolveImageResource(kBundlePrefix + name));
}

std::string HYBAudioRecorderViewController::localized(const char* key) const {
    // Without the plug-in's bundle the key is the English text.
    return pluginLocalizedString(*captureCommand_, key).value_or(key);
}

void HYBAudioRecorderViewController::loadView() {
    // The room below the status bar: a screen presented as this one is starts there.
    const ui::Rect screen = ui::Screen::main().applicationFrame();
    const double width = screen.width();
    auto root = ui::View::create(screen);
    root->setBackgroundColor(ui::Color(0, 0, 0, 1));
    const ui::Size tall = ui::Screen::main().bounds().size;
    const bool is568 =
        (tall.width == 320 && tall.height == 568) || (tall.width == 568 && tall.height == 320);
    auto microphone = image(is568 ? "microphone-568h" : "microphone");
    auto controls = image("controls_bg");
    const double controlsHeight = controls ? controls->size().height : kControlsHeight;
    const double micHeight =
        microphone ? microphone->size().height
                   : std::max(kMicrophoneHeight,
                              screen.height() - ui::NavigationBar::kHeight - controlsHeight);
    auto recording = image("recording_bg");
    const double recordingHeight = recording ? recording->size().height : kRecordingHeight;

    root->addSubview(
        band({{0, 0}, {width, micHeight}}, microphone, ui::Color(0.15, 0.15, 0.17, 1)));
    root->addSubview(
        band({{0, micHeight}, {width, controlsHeight}}, controls, ui::Color(0.25, 0.25, 0.27, 1)));
    recordingView_ =
        band({{0, 0}, {width, recordingHeight}}, recording, ui::Color(0.75, 0.1, 0.1, 1));
    recordingView_->setHidden(true);
    root->addSubview(recordingView_);

    timerLabel_->setFrame(recordingView_->frame());
    timerLabel_->setBackgroundColor(ui::Color(0, 0, 0, 0));
    timerLabel_->setTextColor(ui::Color(1, 1, 1, 1));
    timerLabel_->setTextAlignment(ui::Label::TextAlignment::Center);
    timerLabel_->setText("0:00");
    timerLabel_->setAccessibilityValue("0:00");
    timerLabel_->setAccessibilityHint(localized(kTimeHintKey));
    timerLabel_->setAccessibilityTraits(
        (timerLabel_->accessibilityTraits() | ui::kAccessibilityTraitUpdatesFrequently) &
        ~ui::kAccessibilityTraitStaticText);
    root->addSubview(timerLabel_);

    auto recordImage = image("record_button");
    const ui::Size button = recordImage ? recordImage->size() : ui::Size{kButtonSide, kButtonSide};
    recordButton_ = ui::Button::create(
        {{(width - button.width) * 0.5, micHeight + (controlsHeight - button.height) * 0.5},
         button});
    recordButton_->setAccessibilityLabel(localized(kToggleLabelKey));
    std::weak_ptr<HYBAudioRecorderViewController> weak =
        std::static_pointer_cast<HYBAudioRecorderViewController>(shared_from_this());
    recordButton_->addAction([weak] {
        if (auto self = weak.lock()) self->processButton();
    });
    root->addSubview(recordButton_);
    setButtonImage(buttonImage_);

    doneButton_ = ui::BarButtonItem::withSystemItem(ui::BarButtonItem::SystemItem::Done, [weak] {
        if (auto self = weak.lock()) self->dismissAudioView();
    });
    doneButton_->setStyle(ui::BarButtonItem::Style::Done);
    doneButton_->setEnabled(false);
    navigationItem().setRightBarButtonItem(doneButton_);
    setView(root);
}

void HYBAudioRecorderViewController::setButtonImage(const std::string& resource) {
    buttonImage_ = resource;
    if (!recordButton_) return;
    auto picture = image(resource.substr(std::string(kBundlePrefix).size()));
    recordButton_->setImage(picture, ui::Button::kControlStateNormal);
    const bool recording = resource.ends_with("stop_button");
    recordButton_->setTitle(
        picture ? std::nullopt : std::optional<std::string>(recording ? "Stop" : "Record"),
        ui::Button::kControlStateNormal);
}

void HYBAudioRecorderViewController::presentationControllerDidDismiss(ui::PresentationController&) {
    if (avRecorder_ && avRecorder_->isRecording()) {
        isTimed_ = false;
        avRecorder_->stop();
    }
    dismissAudioView();
}

void HYBAudioRecorderViewController::viewDidLoad() {
    postAccessibility(ui::AccessibilityNotification::ScreenChanged);
    if (!avSession_) avSession_ = &av::AudioSession::shared();
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
    recordButton_->setEnabled(true);
    doneButton_->setEnabled(true);
}

void HYBAudioRecorderViewController::viewWillAppear(bool) {
    if (setsStatusBarStyle()) ui::StatusBar::shared().setStyle(preferredStatusBarStyle());
}

void HYBAudioRecorderViewController::viewDidUnload() {
    setView(nullptr);
    captureCommand_->setInUse(false);
}

void HYBAudioRecorderViewController::processButton() {
    if (!avRecorder_ || awaitingPermission_) return;
    if (avRecorder_->isRecording()) {
        isTimed_ = false;
        avRecorder_->stop();
        return;
    }
    setButtonImage(std::string(kBundlePrefix) + "stop_button");
    recordingView_->setHidden(false);
    // The answer may come on any thread; the screen changes on the main thread only.
    awaitingPermission_ = true;
    std::weak_ptr<HYBAudioRecorderViewController> weak =
        sharedSelf<HYBAudioRecorderViewController>();
    avSession_->requestRecordPermission([weak](bool granted) {
        dispatch::Queue::main().async([weak, granted] {
            auto self = weak.lock();
            if (!self || self->dismissed_) return;
            self->awaitingPermission_ = false;
            if (granted) return self->startRecording();
            ns::nslog("Error creating audio session, microphone permission denied.");
            self->errorCode_ = HYBCaptureErrorInternal;
            self->dismissAudioView();
        });
    });
}

void HYBAudioRecorderViewController::startRecording() {
    auto set = avSession_->setCategory(av::AudioSession::Category::Record);
    if (set.ok()) set = avSession_->setActive(true);
    const bool started = set.ok() && (duration_ ? avRecorder_->recordForDuration(*duration_)
                                                : avRecorder_->record());
    if (!started) {
        if (!set.ok()) ns::nslog("%@", set.error().localizedDescription());
        errorCode_ = HYBCaptureErrorInternal;
        dismissAudioView();
        return postAccessibility(ui::AccessibilityNotification::LayoutChanged);
    }
    isTimed_ = duration_.has_value();
    showTime(0);
    std::weak_ptr<HYBAudioRecorderViewController> weak =
        sharedSelf<HYBAudioRecorderViewController>();
    stopTimer();
    timer_ = dispatch::RunLoop::main().scheduleRepeating(kTimerInterval, [weak] {
        if (auto self = weak.lock()) self->updateTime();
    });
    doneButton_->setEnabled(false);
    postAccessibility(ui::AccessibilityNotification::LayoutChanged);
}

void HYBAudioRecorderViewController::showTime(int seconds) {
    const std::string text = formatTime(seconds);
    timerLabel_->setText(text);
    timerLabel_->setAccessibilityValue(text);
}

void HYBAudioRecorderViewController::updateTime() {
    if (avRecorder_) showTime(static_cast<int>(avRecorder_->currentTime()));
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
    setButtonImage(std::string(kBundlePrefix) + "record_button");
    recordingView_->setHidden(true);
    doneButton_->setEnabled(true);
    if (avSession_) releaseAudioSession(*avSession_);
    if (duration_ && isTimed_) {
        // A timed recording ran to its end: said once the screen has settled.
        dispatch::RunLoop::main().postAfter(
            kAnnouncementDelay, [text = localized(kTimedCompleteKey)] {
                postAccessibility(ui::AccessibilityNotification::Announcement, text);
            });
    } else {
        postAccessibility(ui::AccessibilityNotification::LayoutChanged);
    }
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
    if (avSession_) releaseAudioSession(*avSession_);
    captureCommand_->setInUse(false);
    postAccessibility(ui::AccessibilityNotification::ScreenChanged);
    if (auto delegate = captureCommand_->commandDelegate()) {
        delegate->sendPluginResult(pluginResult_, callbackId_);
    }
    if (setsStatusBarStyle()) ui::StatusBar::shared().setStyle(previousStatusBarStyle_);
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
