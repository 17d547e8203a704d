#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

#include "bridge/HYBInvokedUrlCommand.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBViewController.h"
#include "platform/av/AudioRecorder.h"
#include "platform/av/AudioSession.h"
#include "platform/av/Camera.h"
#include "platform/av/CaptureDevice.h"
#include "platform/av/Microphone.h"
#include "platform/av/WAVWriter.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Sandbox.h"
#include "platform/sys/DeviceFacts.h"
#include "platform/testing/InjectedFaults.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Accessibility.h"
#include "platform/ui/Device.h"
#include "platform/ui/ImageCodec.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/PresentationController.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/Window.h"
#include "plugins/device_storage/HYBFile.h"
#include "plugins/media_browser/HYBAudioRecorderViewController.h"
#include "plugins/media_browser/HYBCapture.h"
#include "tests/plugins/media_browser/support/ClipWriter.h"
#include "tests/plugins/media_browser/support/FolderSwapper.h"
#include "tests/plugins/media_browser/support/MediaFixture.h"
#include "tests/support/BarcodeFrames.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/PresentedScreen.h"
#include "tests/support/TempDir.h"

namespace {

using namespace std::chrono_literals;

// The samples of a WAV file as its header declares them; nothing for a malformed header or
// one that declares more than the file holds.
std::optional<std::vector<int16_t>> decodeWAV(const std::string& path) {
    const std::string bytes = mediatest::readFile(path);
    if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") || bytes.compare(36, 4, "data")) {
        return std::nullopt;
    }
    uint32_t size = 0;
    std::memcpy(&size, &bytes[40], 4);
    uint32_t riff = 0;
    std::memcpy(&riff, &bytes[4], 4);
    if (riff != size + 36 || size > bytes.size() - 44 || size % 2) return std::nullopt;
    std::vector<int16_t> samples(size / 2);
    std::memcpy(samples.data(), &bytes[44], size);
    return samples;
}

::testing::AssertionResult isTone(const std::vector<int16_t>& samples) {
    const auto mic = av::Microphone::shared();
    for (size_t i = 0; i < samples.size(); ++i) {
        if (samples[i] != mic->sampleAt(i)) {
            return ::testing::AssertionFailure() << "sample " << i << " differs";
        }
    }
    return ::testing::AssertionSuccess();
}

class CaptureTest : public mediatest::MediaFixture {
protected:
    void SetUp() override {
        MediaFixture::SetUp();
        av::Microphone::setShared(av::Microphone::tone(440));
        // Each case starts without a camera, whatever an earlier one attached.
        av::Camera::setShared(nullptr);
        attach(*plugin_);
    }

    void call(const std::string& action, ns::Array arguments = {}) {
        plugin_->performAction(
            action, HYBInvokedUrlCommand(std::move(arguments), "Cap1", "Capture", action));
        loop().runUntilIdle();
    }

    std::shared_ptr<HYBAudioRecorderViewController> recorderScreen() {
        auto nav = std::dynamic_pointer_cast<ui::NavigationController>(
            controller_->presentedViewController());
        return nav ? std::dynamic_pointer_cast<HYBAudioRecorderViewController>(
                         nav->topViewController())
                   : nullptr;
    }

    // Advances the manual clock in the recorder's steps, running what falls due.
    void advance(dispatch::Duration by) {
        for (auto step = 0ns; step < by; step += 100ms) loop().advanceBy(100ms);
    }

    void TearDown() override {
        av::Camera::setShared(nullptr);
        MediaFixture::TearDown();
    }

    std::shared_ptr<HYBCapture> plugin_ = std::make_shared<HYBCapture>();
};

TEST_F(CaptureTest, TimedRecordingStopsByItselfAndDoneSendsTheClip) {
    std::ofstream(tmp("audio_001.wav")) << "earlier";
    call("captureAudio", {ns::Value::dict({{"duration", 1}})});
    auto screen = recorderScreen();
    ASSERT_TRUE(screen);
    EXPECT_TRUE(plugin_->inUse());
    screen->processButton();
    loop().runUntilIdle();  // the user's permission to record comes first
    EXPECT_FALSE(screen->doneEnabled());
    advance(600ms);
    EXPECT_EQ(screen->timerText(), "0:00");
    EXPECT_TRUE(screen->avRecorder()->isRecording());

    // A second call while the screen is up is refused; the recording goes on.
    call("captureAudio");
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(delegate_->results[0]->message(), ns::Value::dict({{"code", 1}}));
    advance(600ms);
    EXPECT_FALSE(screen->avRecorder()->isRecording());
    EXPECT_TRUE(screen->doneEnabled());
    EXPECT_EQ(screen->timerText(), "0:01");
    EXPECT_EQ(delegate_->results.size(), 1u) << "the clip waits for Done";

    screen->dismissAudioView();
    loop().runUntilIdle();
    ASSERT_EQ(delegate_->results.size(), 2u);
    const auto& result = *delegate_->results[1];
    ASSERT_EQ(result.status(), HYBResultStatusOK);
    const auto& media = result.message().at(0);
    EXPECT_EQ(media["name"].stringValue(), "audio_002.wav");
    EXPECT_EQ(media["type"].stringValue(), "audio/wav");
    EXPECT_EQ(media["localURL"].stringValue(), "hybfile://localhost/temporary/audio_002.wav");
    EXPECT_EQ(media["size"].integerValue(), 44 + 44100 * 2);
    auto samples = decodeWAV(tmp("audio_002.wav"));
    ASSERT_TRUE(samples);
    EXPECT_EQ(samples->size(), 44100u);
    EXPECT_TRUE(isTone(*samples));
    EXPECT_FALSE(plugin_->inUse());

    // The format data of the clip read from its header.
    call("getFormatData", {tmp("audio_002.wav"), "audio/wav"});
    ASSERT_EQ(delegate_->results.size(), 3u);
    EXPECT_DOUBLE_EQ(delegate_->results[2]->message()["duration"].doubleValue(), 1.0);
}

using Posted = ui::AccessibilityNotifications::Posted;
using ui::AccessibilityNotification;

Posted note(AccessibilityNotification notification,
            std::optional<std::string> argument = std::nullopt) {
    return Posted{notification, std::move(argument)};
}

// The microphone is used with the user's leave: asked when recording starts, and a refusal
// closes the screen with {"code": 0} and its log line. Once allowed, the audio session is set
// to record and holds the input while the recording runs, and lets it go when it ends.
TEST_F(CaptureTest, RecordingAsksForTheMicrophoneAndHoldsItOnlyWhileItRuns) {
    ns::ScopedSharedInstance<av::AudioSession> session;
    session->setUserGrantsRecordPermission(false);
    testsupport::LogCapture log;
    log.expect("Error creating audio session, microphone permission denied.");
    call("captureAudio");
    auto screen = recorderScreen();
    ASSERT_TRUE(screen);
    screen->processButton();
    loop().runUntilIdle();
    log.verify();
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(delegate_->results[0]->status(), HYBResultStatusError);
    EXPECT_EQ(delegate_->results[0]->message(), ns::Value::dict({{"code", 0}}));
    EXPECT_FALSE(controller_->presentedViewController());
    EXPECT_FALSE(plugin_->inUse());
    EXPECT_FALSE(session->isActive());
    EXPECT_EQ(session->recordPermission(), av::AudioSession::RecordPermission::Denied);

    // A session that cannot take the input closes the screen the same way.
    ns::ScopedSharedInstance<av::AudioSession> allowed;
    {
        ns::InjectedFaults faults;
        faults.add("microphone.open", EIO);
        call("captureAudio");
        recorderScreen()->processButton();
        loop().runUntilIdle();
    }
    ASSERT_EQ(delegate_->results.size(), 2u);
    EXPECT_EQ(delegate_->results[1]->message(), ns::Value::dict({{"code", 0}}));
    EXPECT_FALSE(allowed->isActive());

    call("captureAudio");
    screen = recorderScreen();
    screen->processButton();
    EXPECT_FALSE(screen->avRecorder()->isRecording()) << "not before the user's answer";
    loop().runUntilIdle();
    EXPECT_TRUE(screen->avRecorder()->isRecording());
    EXPECT_TRUE(allowed->isActive());
    EXPECT_EQ(allowed->category(), av::AudioSession::Category::Record);
    advance(300ms);
    screen->processButton();
    EXPECT_FALSE(allowed->isActive());
    EXPECT_EQ(allowed->category(), av::AudioSession::Category::PlayAndRecord);
    screen->dismissAudioView();
    loop().runUntilIdle();
    EXPECT_EQ(delegate_->results.back()->status(), HYBResultStatusOK);
}

// What assistive technologies hear of the recorder: its parts' label, hint and value, the
// screen's coming and going, and, half a second after a timed recording ran to its end,
// "timed recording complete"; a recording stopped early is not announced.
TEST_F(CaptureTest, RecorderSpeaksToAssistiveTechnologies) {
    ui::AccessibilityNotifications::clearPosted();
    call("captureAudio", {ns::Value::dict({{"duration", 1}})});
    auto screen = recorderScreen();
    ASSERT_TRUE(screen);
    EXPECT_EQ(screen->recordButton()->accessibilityLabel(), "toggle audio recording");
    const auto& time = *screen->timerLabel();
    EXPECT_EQ(time.accessibilityHint(), "recorded time in minutes and seconds");
    EXPECT_TRUE(time.accessibilityTraits() & ui::kAccessibilityTraitUpdatesFrequently);
    EXPECT_FALSE(time.accessibilityTraits() & ui::kAccessibilityTraitStaticText);
    EXPECT_EQ(ui::AccessibilityNotifications::posted(),
              std::vector<Posted>{note(AccessibilityNotification::ScreenChanged)});

    // Stopped early: no announcement.
    ui::AccessibilityNotifications::clearPosted();
    screen->processButton();
    loop().runUntilIdle();
    advance(500ms);
    screen->processButton();
    advance(1s);
    EXPECT_EQ(ui::AccessibilityNotifications::posted(),
              (std::vector<Posted>{note(AccessibilityNotification::LayoutChanged),
                                   note(AccessibilityNotification::LayoutChanged)}));

    // Run to its end: announced half a second after the stop.
    ui::AccessibilityNotifications::clearPosted();
    screen->processButton();
    loop().runUntilIdle();
    advance(1s);
    EXPECT_FALSE(screen->avRecorder()->isRecording());
    EXPECT_EQ(time.accessibilityValue(), "0:01");
    EXPECT_EQ(ui::AccessibilityNotifications::posted().size(), 1u) << "not yet";
    advance(500ms);
    EXPECT_EQ(ui::AccessibilityNotifications::posted(),
              (std::vector<Posted>{
                  note(AccessibilityNotification::LayoutChanged),
                  note(AccessibilityNotification::Announcement, "timed recording complete")}));
    screen->dismissAudioView();
    loop().runUntilIdle();
    EXPECT_EQ(ui::AccessibilityNotifications::posted().back(),
              note(AccessibilityNotification::ScreenChanged));
}

// The status bar shows the recorder's style while it is up; closing it gives the application
// back the style it had.
TEST_F(CaptureTest, RecorderRestoresTheStatusBarStyle) {
    auto& bar = ui::StatusBar::shared();
    bar.setViewControllerBasedAppearance(false);
    bar.setStyle(ui::StatusBar::Style::LightContent);
    call("captureAudio");
    ASSERT_TRUE(recorderScreen());
    EXPECT_EQ(bar.style(), ui::StatusBar::Style::Default);
    recorderScreen()->dismissAudioView();
    loop().runUntilIdle();
    EXPECT_EQ(bar.style(), ui::StatusBar::Style::LightContent);
    bar.setStyle(ui::StatusBar::Style::Default);
    bar.setViewControllerBasedAppearance(true);
}

// Without any sound input the recorder is not supported (20), and the modes say so; a screen
// that cannot be shown answers its call at once and leaves the plug-in free.
TEST_F(CaptureTest, WhatCannotBeCapturedAnswersAtOnce) {
    const std::string clip = tmp("camera.mp4");
    ASSERT_TRUE(mediatest::writeClip(clip, 32, 16, {{255, 0, 0}}));
    ASSERT_TRUE(av::Camera::configure(clip));
    call("getMediaModes");
    const auto wav = ns::Value::dict({{"height", 0}, {"width", 0}, {"type", "audio/wav"}});
    const auto mp4 = ns::Value::dict({{"height", 0}, {"width", 0}, {"type", "video/mp4"}});
    auto modes = [&] {
        const std::string& js = delegate_->scripts.back();
        const std::string prefix = "navigator.device.capture.setSupportedModes(";
        EXPECT_EQ(js.rfind(prefix, 0), 0u) << js;
        auto parsed =
            ns::JSONSerialization::read(js.substr(prefix.size(), js.size() - prefix.size() - 2));
        return parsed.ok() ? parsed.value() : ns::Value();
    };
    EXPECT_EQ(modes()["audio"], ns::Value::array({wav}));
    EXPECT_EQ(modes()["video"], ns::Value::array({mp4}));

    av::Microphone::setNone();
    call("getMediaModes");
    EXPECT_EQ(modes()["audio"], ns::Value());
    call("captureAudio");
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(delegate_->results[0]->message(), ns::Value::dict({{"code", 20}}));
    EXPECT_FALSE(controller_->presentedViewController());
    av::Microphone::setShared(av::Microphone::tone(440));

    controller_->presentViewController(ui::ViewController::create(), false);
    loop().runUntilIdle();
    call("captureAudio");
    call("captureImage");
    call("captureVideo");
    ASSERT_EQ(delegate_->results.size(), 4u);
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(delegate_->results[i]->message(), ns::Value::dict({{"code", 0}})) << i;
    }
    EXPECT_FALSE(plugin_->inUse());
    EXPECT_FALSE(plugin_->pickerController());
}

// The capture screens' answers that nothing in the host asks for: the picker starts a media
// session on systems that know the trait, the older road of a picked image ends as a pick
// does, and a recorder whose view goes frees the plug-in.
TEST_F(CaptureTest, AnswersOfTheCaptureScreensOwn) {
    HYBImagePicker picker;
    EXPECT_EQ(picker.accessibilityTraits(), ui::kAccessibilityTraitStartsMediaSession);
    sys::DeviceFacts::current().setSystemVersion("3.2");
    EXPECT_EQ(picker.accessibilityTraits(), ui::kAccessibilityTraitNone);
    sys::DeviceFacts::current().setSystemVersion(sys::DeviceFacts::kDefaultSystemVersion);

    auto shown = std::make_shared<HYBImagePicker>();
    shown->setCallbackId("Old");
    HYBImagePickerInfo editingInfo;
    editingInfo.originalImage = ui::Bitmap::create(12, 8);
    plugin_->imagePickerDidFinishPickingImage(*shown, editingInfo);
    loop().runUntilIdle();
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(delegate_->callbackIds[0], "Old");
    EXPECT_EQ(delegate_->results[0]->message().at(0)["name"], ns::Value("photo_001.jpg"));

    call("captureAudio");
    ASSERT_TRUE(plugin_->inUse());
    recorderScreen()->viewDidUnload();
    EXPECT_FALSE(plugin_->inUse());
    EXPECT_FALSE(recorderScreen()->isViewLoaded());
}

// Systems before 4.0 look images up by file name: a pad takes the bundle's pad picture where
// there is one, anything else NAME.png; the recorder's screen shows what that names.
TEST_F(CaptureTest, OlderSystemsNameTheRecordersImagesByFile) {
    ns::ScopedSharedInstance<sys::DeviceFacts> facts;
    struct Idiom {
        ~Idiom() { ui::Device::current().setUserInterfaceIdiom(ui::Device::Idiom::Phone); }
    } restoresIdiom;
    const auto bundle = dir_ / "App" / "HYBCapture.bundle";
    std::filesystem::create_directories(bundle);
    ASSERT_TRUE(
        mediatest::writePNG(*ui::Bitmap::create(8, 20), (bundle / "microphone.png").string()));
    ASSERT_TRUE(
        mediatest::writePNG(*ui::Bitmap::create(8, 30), (bundle / "microphone~ipad.png").string()));
    using Screen = HYBAudioRecorderViewController;
    const std::string microphone = "HYBCapture.bundle/microphone";
    const std::string controls = "HYBCapture.bundle/controls_bg";

    EXPECT_EQ(Screen::resolveImageResource(microphone), microphone);
    sys::DeviceFacts::current().setSystemVersion("3.2");
    EXPECT_EQ(Screen::resolveImageResource(microphone), microphone + ".png");
    ui::Device::current().setUserInterfaceIdiom(ui::Device::Idiom::Pad);
    EXPECT_EQ(Screen::resolveImageResource(microphone), microphone + "~ipad.png");
    EXPECT_EQ(Screen::resolveImageResource(controls), controls + ".png");
    sys::DeviceFacts::current().setSystemVersion("4.0");
    EXPECT_EQ(Screen::resolveImageResource(microphone), microphone);

    // The microphone band is as tall as the picture the name found.
    for (const auto& [version, height] : {std::pair{"4.0", 20.0}, std::pair{"3.2", 30.0}}) {
        SCOPED_TRACE(version);
        sys::DeviceFacts::current().setSystemVersion(version);
        call("captureAudio");
        auto screen = recorderScreen();
        ASSERT_TRUE(screen);
        EXPECT_EQ(screen->view()->subviews().at(0)->frame().height(), height);
        screen->dismissAudioView();
        loop().runUntilIdle();
    }
}

TEST_F(CaptureTest, DoneWithoutARecordingAnswersNoMediaFiles) {
    call("captureAudio", {ns::Value::dict({{"duration", 0}})});
    auto screen = recorderScreen();
    ASSERT_TRUE(screen);
    EXPECT_FALSE(screen->isTimed());
    // Without the bundle's images the bands still fill the screen under the navigation bar.
    double bottom = 0;
    for (const auto& part : screen->view()->subviews()) {
        bottom = std::max(bottom, part->frame().y() + part->frame().height());
    }
    EXPECT_EQ(bottom, screen->view()->bounds().height());
    screen->dismissAudioView();
    loop().runUntilIdle();
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(delegate_->results[0]->status(), HYBResultStatusError);
    EXPECT_EQ(delegate_->results[0]->message(), ns::Value::dict({{"code", 3}}));
    EXPECT_FALSE(plugin_->inUse());
}

// The recorder comes up below the status bar in the host's window, the bar light over it, with
// its controls inside the room that is left.
TEST_F(CaptureTest, TheRecorderLiesBelowTheStatusBarWithItsControlsOnScreen) {
    ns::ScopedSharedInstance<ui::StatusBar> statusBar;
    call("captureAudio");
    auto screen = recorderScreen();
    ASSERT_TRUE(screen);
    EXPECT_TRUE(testsupport::liesBelowTheStatusBar(*screen->navigationController()));
    screen->dismissAudioView();
    loop().runUntilIdle();
    EXPECT_FALSE(plugin_->inUse());
}

TEST(AudioRecorderLimit, RecordingStopsAtTheSizeLimitWithAPlayableFile) {
    testsupport::TempDir dir;
    auto clock = std::make_shared<dispatch::ManualClock>();
    dispatch::Clock::setCurrent(clock);
    auto& loop = dispatch::RunLoop::main();
    loop.reset();
    const std::string path = (dir / "limit.wav").string();
    auto recorder = av::AudioRecorder::create(path, av::Microphone::tone(440)).value();
    recorder->setMaxDataBytes(1001);  // room for 500 frames
    ASSERT_TRUE(recorder->record());
    loop.advanceBy(100ms);
    EXPECT_FALSE(recorder->isRecording());
    auto samples = decodeWAV(path);
    ASSERT_TRUE(samples);
    EXPECT_EQ(samples->size(), 500u);
    loop.reset();
    dispatch::Clock::setCurrent(nullptr);
}

// The child of SigkillLeavesThePrefixRecordedSoFar: records a tone into args[0] for ever, a
// tick after each tenth of a second.
[[noreturn]] void recordUntilKilled(int ticks, const std::vector<std::string>& args) {
    auto clock = std::make_shared<dispatch::ManualClock>();
    dispatch::Clock::setCurrent(clock);
    auto& loop = dispatch::RunLoop::main();
    loop.reset();
    auto recorder = av::AudioRecorder::create(args.at(0), av::Microphone::tone(440)).value();
    if (!recorder->record()) ::_exit(2);
    for (;;) {
        loop.advanceBy(100ms);
        const char tick = 't';
        if (::write(ticks, &tick, 1) != 1) ::_exit(3);
    }
}
const testsupport::ChildRegistration kRecorder("AudioRecorderKill.recordUntilKilled",
                                               &recordUntilKilled);

// A recording killed at any moment leaves a WAV whose header declares only samples that are
// in the file, and those are the samples recorded.
TEST(AudioRecorderKill, SigkillLeavesThePrefixRecordedSoFar) {
    testsupport::TempDir dir;
    const std::string path = (dir / "killed.wav").string();
    int ticks[2];
    ASSERT_EQ(::pipe(ticks), 0);
    const pid_t child =
        testsupport::startChild("AudioRecorderKill.recordUntilKilled", ticks[1], {path});
    ASSERT_GT(child, 0);
    ::close(ticks[1]);
    char buffer[5];
    size_t got = 0;
    while (got < sizeof buffer) {
        const ssize_t n = ::read(ticks[0], buffer + got, sizeof buffer - got);
        ASSERT_GT(n, 0);
        got += size_t(n);
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(ticks[0]);
    ASSERT_TRUE(WIFSIGNALED(status));
    auto samples = decodeWAV(path);
    ASSERT_TRUE(samples);
    EXPECT_GE(samples->size(), 5u * 4410u);
    av::Microphone::setShared(av::Microphone::tone(440));
    EXPECT_TRUE(isTone(*samples));
}

TEST_F(CaptureTest, MediaDictionariesModesAndFormatData) {
    auto media = plugin_->getMediaDictionaryFromPath(tmp("missing.wav"), std::nullopt);
    EXPECT_EQ(media["size"].integerValue(), 0);
    EXPECT_EQ(media["lastModifiedDate"].doubleValue(), 0.0);
    EXPECT_EQ(media["type"].stringValue(), "audio/wav");

    call("getFormatData", {tmp("missing.png"), "image/png"});
    call("getFormatData", {tmp("x.txt"), "text/plain"});
    ASSERT_EQ(delegate_->results.size(), 2u);
    const auto defaults = ns::Value::dict(
        {{"codecs", ns::Value()}, {"bitrate", 0}, {"height", 0}, {"width", 0}, {"duration", 0}});
    EXPECT_EQ(delegate_->results[0]->message(), defaults);
    EXPECT_EQ(delegate_->results[1]->message(), defaults);

    call("captureImage");
    EXPECT_EQ(delegate_->results.back()->message(), ns::Value::dict({{"code", 20}}));
}

// Format data reads headers only, of files the application may read: an image's size from its
// header, a clip's duration and natural size, nothing of a file outside (or linked to from
// inside), and a huge file costs no more than a small one.
TEST_F(CaptureTest, FormatDataReadsHeadersOfReadableFilesOnly) {
    auto dataOf = [&](const std::string& path, const char* type) {
        delegate_->results.clear();
        call("getFormatData", {path, type});
        return delegate_->results.empty() ? ns::Value() : delegate_->results.back()->message();
    };
    const auto png = ui::ImageCodec::encodePNG(*ui::Bitmap::create(30, 20));
    ASSERT_TRUE(ns::writeFileAtomically(tmp("p.png"), *png).ok());
    EXPECT_EQ(dataOf(tmp("p.png"), "image/png")["width"], ns::Value(30));
    auto jpeg = ui::ImageCodec::encodeJPEG(*ui::Bitmap::create(50, 40), 0.5);
    ASSERT_TRUE(ns::writeFileAtomically(tmp("j.jpg"), *jpeg).ok());
    EXPECT_EQ(dataOf(tmp("j.jpg"), "image/jpeg")["height"], ns::Value(40));
    ASSERT_TRUE(mediatest::writeClip(tmp("c.mp4"), 64, 32, {{255, 0, 0}, {0, 0, 255}}));
    const auto clip = dataOf(tmp("c.mp4"), "video/mp4");
    EXPECT_EQ(clip["width"], ns::Value(64));
    EXPECT_EQ(clip["height"], ns::Value(32));
    EXPECT_NEAR(clip["duration"].doubleValue(), 2.0, 0.15);
    // A sound file other than WAV: its duration, and the bit rate its encoder gave it.
    ASSERT_TRUE(mediatest::writeSound(tmp("s.mp2"), 2.0, 128000));
    const auto sound = dataOf(tmp("s.mp2"), "audio/mpeg");
    EXPECT_NEAR(sound["duration"].doubleValue(), 2.0, 0.1) << sound.description();
    EXPECT_EQ(sound["bitrate"], ns::Value(128000));
    EXPECT_EQ(sound["width"], ns::Value(0));

    // A 1 GiB file (sparse) with a real header: the header is read, not the gigabyte.
    {
        std::ofstream big(tmp("big.png"), std::ios::binary);
        big.write(reinterpret_cast<const char*>(png->bytes()), std::streamsize(png->length()));
    }
    std::filesystem::resize_file(tmp("big.png"), uint64_t(1) << 30);
    EXPECT_EQ(dataOf(tmp("big.png"), "image/png")["width"], ns::Value(30));
    EXPECT_EQ(dataOf(tmp("big.png"), "video/mp4")["duration"], ns::Value(0));

    const auto defaults = ns::Value::dict(
        {{"codecs", ns::Value()}, {"bitrate", 0}, {"height", 0}, {"width", 0}, {"duration", 0}});
    std::filesystem::create_directories(ns::Sandbox::keychainDirectory());
    const std::string secret = ns::Sandbox::keychainDirectory() + "/secret.mp4";
    std::filesystem::copy_file(tmp("c.mp4"), secret);
    std::filesystem::create_symlink(secret, tmp("link.mp4"));
    EXPECT_EQ(dataOf(secret, "video/mp4"), defaults);
    EXPECT_EQ(dataOf(tmp("link.mp4"), "video/mp4"), defaults);
    EXPECT_EQ(dataOf("/dev/zero", "audio/wav"), defaults);
}

// A folder on the way to the file that another process swaps for a link to the outside never
// leads format data out: each answer describes the clip inside, or no file at all.
TEST_F(CaptureTest, FormatDataOfAFolderSwappedForALinkNeverLeadsOut) {
    const std::filesystem::path documents = ns::Sandbox::documentsDirectory();
    const std::filesystem::path outside = dir_ / "outside";
    std::filesystem::create_directories(documents / "dir");
    std::filesystem::create_directories(outside);
    ASSERT_TRUE(
        mediatest::writeClip((documents / "dir" / "c.mp4").string(), 64, 32, {{0, 0, 255}}));
    ASSERT_TRUE(mediatest::writeClip((outside / "c.mp4").string(), 32, 16, {{255, 0, 0}}));
    std::filesystem::create_directory_symlink(outside, documents / "swap");
    const std::string path = (documents / "dir" / "c.mp4").string();
    auto widthOf = [&] {
        delegate_->results.clear();
        call("getFormatData", {path, "video/mp4"});
        return delegate_->results.empty() ? ns::Value()
                                          : delegate_->results.back()->message()["width"];
    };
    // The swap at the very moment the file is opened.
    ns::InjectedFaults::at("open", [&] {
        std::filesystem::rename(documents / "dir", documents / "dir.real");
        std::filesystem::rename(documents / "swap", documents / "dir");
    });
    EXPECT_EQ(widthOf(), ns::Value(0));
    std::filesystem::rename(documents / "dir", documents / "swap");
    std::filesystem::rename(documents / "dir.real", documents / "dir");

    int inside = 0;
    mediatest::FolderSwapper swapper(documents / "dir", documents / "swap");
    for (int i = 0; i < 100 || swapper.swaps() < 20; ++i) {
        const ns::Value width = widthOf();
        ASSERT_NE(width, ns::Value(32)) << "read outside after " << i << " reads";
        if (width == ns::Value(64)) ++inside;
    }
    EXPECT_GT(inside, 0);
}

// Closing a capture screen's window answers the page as the screen's own way out does: the
// camera as Cancel, the recorder as Done (a recording in progress is kept).
TEST_F(CaptureTest, ClosingAScreensWindowAnswersThePage) {
    auto still = ui::Bitmap::create(30, 20);
    const std::string stillPath = tmp("still.png");
    ASSERT_TRUE(ns::writeFileAtomically(stillPath, *ui::ImageCodec::encodePNG(*still)).ok());
    ASSERT_TRUE(av::Camera::configure(stillPath));
    call("captureImage");
    auto picker = plugin_->pickerController();
    ASSERT_TRUE(picker);
    EXPECT_EQ(picker->preview()->image()->size(), (ui::Size{30, 20}));
    picker->cancelButton()->sendActions();
    loop().runUntilIdle();
    EXPECT_EQ(delegate_->results.back()->message(), ns::Value::dict({{"code", 3}}));
    call("captureImage");
    ASSERT_TRUE(plugin_->pickerController()->presentationController().closeByUser());
    loop().runUntilIdle();
    EXPECT_EQ(delegate_->results.size(), 2u);
    EXPECT_EQ(delegate_->results.back()->message(), ns::Value::dict({{"code", 3}}));
    EXPECT_FALSE(controller_->presentedViewController());

    call("captureAudio");
    auto screen = recorderScreen();
    ASSERT_TRUE(screen);
    EXPECT_TRUE(screen->doneEnabled());
    screen->recordButton()->sendActions();
    loop().runUntilIdle();
    EXPECT_TRUE(screen->recordingShown());
    EXPECT_FALSE(screen->doneEnabled());
    advance(1600ms);
    EXPECT_EQ(screen->timerText(), "0:01");
    ASSERT_TRUE(controller_->presentedViewController()->presentationController().closeByUser());
    loop().runUntilIdle();
    ASSERT_EQ(delegate_->results.size(), 3u);
    ASSERT_EQ(delegate_->results.back()->status(), HYBResultStatusOK);
    EXPECT_EQ(delegate_->results.back()->message().at(0)["type"].stringValue(), "audio/wav");
    EXPECT_FALSE(plugin_->inUse());
}

// The camera that tools/dev run gives the host: the newest picture of the watched folder (the
// page's temporary folder) and, while there is none, the clip behind it. Photos, the scanner's
// frames and the previews follow the folder; clips and their preview stay the clip.
TEST_F(CaptureTest, AWatchedFolderWithAClipBehindIt) {
    const std::string clip = tmp("fallback.mp4");
    ASSERT_TRUE(mediatest::writeClip(clip, 32, 16, {{255, 0, 0}}));
    const std::string folder = tmp("watched");
    const auto before = av::Camera::shared();
    EXPECT_FALSE(av::Camera::configureWatching(folder, tmp("no-such-clip.mp4")));
    EXPECT_EQ(av::Camera::shared(), before);
    ASSERT_TRUE(av::Camera::configureWatching(folder, clip));
    auto camera = av::Camera::shared();
    ASSERT_TRUE(camera);
    EXPECT_TRUE(camera->hasVideo());
    auto frameWidth = [] {
        auto device = av::CaptureDevice::defaultDevice();
        auto frame = device ? device->frame(std::chrono::milliseconds(100)) : nullptr;
        return frame ? frame->width() : 0;
    };

    // No folder yet: the clip is all the camera sees.
    EXPECT_EQ(frameWidth(), 32);
    call("captureImage");
    ASSERT_TRUE(plugin_->pickerController());
    EXPECT_EQ(plugin_->pickerController()->preview()->image()->size(), (ui::Size{32, 16}));
    plugin_->pickerController()->cancel();
    loop().runUntilIdle();

    // A picture written to the folder is what photos and frames show from then on.
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(ns::writeFileAtomically(folder + "/code.png",
                                        *ui::ImageCodec::encodePNG(*ui::Bitmap::create(30, 20)))
                    .ok());
    EXPECT_EQ(frameWidth(), 30);
    call("captureImage");
    ASSERT_TRUE(plugin_->pickerController());
    EXPECT_EQ(plugin_->pickerController()->preview()->image()->size(), (ui::Size{30, 20}));
    plugin_->pickerController()->takePicture();
    loop().runUntilIdle();
    ASSERT_EQ(delegate_->results.back()->status(), HYBResultStatusOK);
    const auto photo =
        mediatest::readFile(ns::Sandbox::temporaryDirectory() +
                            delegate_->results.back()->message().at(0)["name"].stringValue());
    auto image = ui::ImageCodec::decode(ns::Data(photo.data(), photo.size()));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 30);

    // A clip is still the clip, previewed by its own first picture.
    call("captureVideo");
    ASSERT_TRUE(plugin_->pickerController());
    EXPECT_EQ(plugin_->pickerController()->preview()->image()->size(), (ui::Size{32, 16}));
    plugin_->pickerController()->takePicture();
    loop().runUntilIdle();
    ASSERT_EQ(delegate_->results.back()->status(), HYBResultStatusOK);
    EXPECT_EQ(delegate_->results.back()->message().at(0)["size"].integerValue(),
              int64_t(std::filesystem::file_size(clip)));
    av::Camera::setShared(nullptr);
}

TEST_F(CaptureTest, PhotosAndClipsFromTheReplayCamera) {
    auto still = ui::Bitmap::create(30, 20);
    const std::string stillPath = tmp("still.png");
    ASSERT_TRUE(ns::writeFileAtomically(stillPath, *ui::ImageCodec::encodePNG(*still)).ok());
    ASSERT_TRUE(av::Camera::configure(stillPath));
    std::ofstream(tmp("photo_001.jpg")) << "earlier";

    call("captureImage");
    auto picker = plugin_->pickerController();
    ASSERT_TRUE(picker);
    EXPECT_EQ(controller_->presentedViewController(), picker);
    picker->takePicture();
    loop().runUntilIdle();
    ASSERT_EQ(delegate_->results.size(), 1u);
    ASSERT_EQ(delegate_->results[0]->status(), HYBResultStatusOK);
    const auto& photo = delegate_->results[0]->message().at(0);
    EXPECT_EQ(photo["name"].stringValue(), "photo_002.jpg");
    EXPECT_EQ(photo["type"].stringValue(), "image/jpeg");
    const std::string bytes = mediatest::readFile(tmp("photo_002.jpg"));
    auto image = ui::ImageCodec::decode(ns::Data(bytes.data(), bytes.size()));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 30);
    EXPECT_FALSE(controller_->presentedViewController());

    call("captureImage");
    plugin_->pickerController()->cancel();
    loop().runUntilIdle();
    EXPECT_EQ(delegate_->results.back()->message(), ns::Value::dict({{"code", 3}}));
    call("captureVideo");
    EXPECT_EQ(delegate_->results.back()->message(), ns::Value::dict({{"code", 20}}));

    const std::string clip = tmp("camera.mp4");
    ASSERT_TRUE(mediatest::writeClip(clip, 32, 16, {{255, 0, 0}}));
    ASSERT_TRUE(av::Camera::configure(clip));
    call("captureVideo", {ns::Value::dict({{"duration", 5}})});
    ASSERT_TRUE(plugin_->pickerController());
    EXPECT_EQ(plugin_->pickerController()->videoMaximumDuration(), 5.0);
    plugin_->pickerController()->takePicture();
    loop().runUntilIdle();
    const auto& video = delegate_->results.back()->message().at(0);
    EXPECT_EQ(video["name"].stringValue(), "capture_001.mp4");
    EXPECT_EQ(video["type"].stringValue(), "video/mp4");
    EXPECT_EQ(video["size"].integerValue(), int64_t(std::filesystem::file_size(clip)));

    call("getMediaModes");
    ASSERT_FALSE(delegate_->scripts.empty());
    EXPECT_NE(delegate_->scripts.back().find("\"video\":[{"), std::string::npos)
        << delegate_->scripts.back();
    av::Camera::setShared(nullptr);
}

}  // namespace
