#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bridge/HYBInvokedUrlCommand.h"
#include "bridge/HYBPluginResult.h"
#include "platform/av/Camera.h"
#include "platform/av/CaptureDevice.h"
#include "platform/av/SystemSound.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/Exception.h"
#include "platform/ns/Sandbox.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/testing/InjectedFaults.h"
#include "platform/ui/ImageCodec.h"
#include "platform/ui/PresentationController.h"
#include "plugins/media_browser/HYBBarcodeScanner.h"
#include "plugins/media_browser/HYBbcsProcessor.h"
#include "plugins/media_browser/HYBbcsViewController.h"
#include "tests/plugins/media_browser/support/MediaFixture.h"
#include "tests/support/BarcodeFrames.h"
#include "tests/support/LogCapture.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

ns::Value scanResult(const std::string& text, const std::string& format, int cancelled) {
    return ns::Value::dict({{"text", text}, {"format", format}, {"cancelled", cancelled}});
}

// The plug-in in the host's controller, with a bundle that describes its camera use and
// ships the beep, and a camera whose devices the tests choose.
class BarcodeScannerTest : public mediatest::MediaFixture {
protected:
    void SetUp() override {
        MediaFixture::SetUp();
        HYBBarcodeScanner::registerClasses(rt::ClassRegistry::shared());
        std::ofstream(dir_ / "App" / "Info.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
               "<key>NSCameraUsageDescription</key><string>Scans codes.</string>"
               "</dict></plist>";
        fs::create_directories(dir_ / "App" / "HYBBarcodeScanner.bundle");
        std::ofstream(dir_ / "App" / "HYBBarcodeScanner.bundle" / "beep.caf") << "caff";
        ns::Bundle::setMainBundlePath((dir_ / "App").string());
        av::CaptureDevice::setAuthorizationStatus(av::AuthorizationStatus::NotDetermined);
        av::SystemSound::setPlayObserver([this](av::SystemSound::SoundID, const std::string&) {
            ++beeps_;
            screenUpAtBeep_ = controller_->presentedViewController() != nullptr;
        });
        attach(*plugin_);
    }
    void TearDown() override {
        MediaFixture::TearDown();
        av::CaptureDevice::setDevices(std::nullopt);
        av::Camera::setShared(nullptr);
        av::SystemSound::setPlayObserver(nullptr);
    }

    void call(const std::string& action, ns::Array arguments = {}) {
        plugin_->performAction(
            action, HYBInvokedUrlCommand(std::move(arguments), "Bar1", "BarcodeScanner", action));
        loop().runUntilIdle();
    }
    // The replay camera shows the frame, as the host's --camera FILE does.
    void cameraShows(const std::shared_ptr<ui::Bitmap>& frame) {
        ASSERT_TRUE(frame);
        const std::string path = (dir_ / "camera.png").string();
        ASSERT_TRUE(mediatest::writePNG(*frame, path));
        ASSERT_TRUE(av::Camera::configure(path));
    }
    // Devices of the tests' own: a back one with torch and flash, and, when asked, a front
    // one; both see `frame` (null: nothing).
    void useDevices(std::shared_ptr<const ui::Bitmap> frame, bool withFront) {
        auto source = [frame](dispatch::Duration) { return frame; };
        std::vector<std::shared_ptr<av::CaptureDevice>> devices{std::make_shared<av::CaptureDevice>(
            "back", av::CaptureDevicePosition::Back,
            av::CaptureDevice::Capabilities{true, true, true, true}, source)};
        if (withFront) {
            devices.push_back(
                std::make_shared<av::CaptureDevice>("front", av::CaptureDevicePosition::Front,
                                                    av::CaptureDevice::Capabilities{}, source));
        }
        av::CaptureDevice::setDevices(devices);
    }
    std::shared_ptr<HYBbcsViewController> screen() const {
        return std::dynamic_pointer_cast<HYBbcsViewController>(
            controller_->presentedViewController());
    }
    // Until the screen is up and reads count (set-up, the 1 s before it shows, its appearance).
    void untilCapturing() {
        for (int i = 0; i < 150 && !(plugin_->activeScan() && plugin_->activeScan()->capturing());
             ++i) {
            loop().advanceBy(10ms);
        }
        ASSERT_TRUE(screen());
        ASSERT_TRUE(plugin_->activeScan() && plugin_->activeScan()->capturing());
    }
    // Until the camera's next frame has been examined.
    void nextFrame() { loop().advanceBy(std::chrono::milliseconds(1000 / 15 + 1)); }
    const ns::Value& lastMessage() const { return delegate_->results.back()->message(); }

    std::shared_ptr<HYBBarcodeScanner> plugin_ = std::make_shared<HYBBarcodeScanner>();
    int beeps_ = 0;
    bool screenUpAtBeep_ = false;
};

struct Symbology {
    const char* writer;  // the barcode library's name, for making the fixture
    const char* text;
    const char* expectedText;
    const char* expectedFormat;
};

class EverySymbology : public BarcodeScannerTest,
                       public ::testing::WithParamInterface<Symbology> {};

// Each symbology of the format table, made by the library's writer and replayed by the
// camera, reaches the page with its text and its format name.
TEST_P(EverySymbology, IsReadThroughTheReplayCamera) {
    const Symbology& row = GetParam();
    cameraShows(mediatest::barcodeFrame(row.writer, row.text));
    call("scan");
    loop().advanceBy(3s);
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(delegate_->results[0]->status(), HYBResultStatusOK);
    EXPECT_EQ(lastMessage(), scanResult(row.expectedText, row.expectedFormat, 0));
    EXPECT_FALSE(controller_->presentedViewController());
}

INSTANTIATE_TEST_SUITE_P(
    FormatTable, EverySymbology,
    ::testing::Values(Symbology{"QRCode", "hello QR", "hello QR", "QR_CODE"},
                      Symbology{"Aztec", "hello Aztec", "hello Aztec", "AZTEC"},
                      Symbology{"DataMatrix", "hello DM", "hello DM", "DATA_MATRIX"},
                      Symbology{"UPCE", "01234565", "01234565", "UPC_E"},
                      // A UPC-A code is an EAN-13 code with a leading "0", reported whole.
                      Symbology{"UPCA", "012345678905", "0012345678905", "UPC_A"},
                      Symbology{"EAN8", "96385074", "96385074", "EAN_8"},
                      Symbology{"EAN13", "5901234123457", "5901234123457", "EAN_13"},
                      Symbology{"Code128", "Code 128 text", "Code 128 text", "CODE_128"},
                      Symbology{"Code93", "CODE93", "CODE93", "CODE_93"},
                      Symbology{"Code39", "CODE39", "CODE39", "CODE_39"},
                      Symbology{"ITF", "1234567890", "1234567890", "ITF"},
                      Symbology{"ITF", "10012345678902", "10012345678902", "ITF_14"},
                      Symbology{"PDF417", "hello PDF417", "hello PDF417", "PDF_417"}),
    [](const auto& info) {
        return std::string(info.param.expectedFormat) == "???"
                   ? "Unknown"
                   : std::string(info.param.expectedFormat);
    });

// The encoder's picture scans back: encode a non-ASCII text, point the camera at the
// temporary folder (where the file was written), and the scan answers the same text.
TEST_F(BarcodeScannerTest, EncodedTextScansBack) {
    const std::string text = "Grüße, 世界 ✓";
    call("encode", {ns::Value::dict({{"data", text}})});
    call("encode", {ns::Value::dict({{"data", text}})});
    ASSERT_EQ(delegate_->results.size(), 2u);
    const ns::Value& first = delegate_->results[0]->message();
    const ns::Value& second = delegate_->results[1]->message();
    EXPECT_EQ(first["format"], ns::Value("QR_CODE"));
    const std::string path = first["file"].stringValue();
    EXPECT_EQ(path.rfind(ns::Sandbox::temporaryDirectory(), 0), 0u) << path;
    EXPECT_TRUE(path.ends_with(".jpg"));
    EXPECT_NE(second["file"], first["file"]) << "a new name on every call";
    const std::string bytes = mediatest::readFile(path);
    EXPECT_EQ(bytes, mediatest::readFile(second["file"].stringValue()));
    auto picture = ui::ImageCodec::decode(ns::Data(bytes.data(), bytes.size()));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width(), 300);
    EXPECT_EQ(picture->height(), 300);

    ASSERT_TRUE(av::Camera::configure(ns::Sandbox::temporaryDirectory()));
    call("scan", {ns::Value::dict({{"formats", "QR_CODE"}})});
    loop().advanceBy(3s);
    ASSERT_EQ(delegate_->results.size(), 3u);
    EXPECT_EQ(lastMessage(), scanResult(text, "QR_CODE", 0));
}

// Text with control characters (a tab, an escape, U+0001) is text: its code scans back as
// it was encoded, and the scanner is free for the next scan.
TEST_F(BarcodeScannerTest, TextWithControlCharactersScansBackAndFreesTheScanner) {
    ASSERT_TRUE(av::Camera::configure(ns::Sandbox::temporaryDirectory()));
    for (const std::string text : {"tab\there", "\x1b[31mred\x1b[0m", "\x01start"}) {
        delegate_->results.clear();
        for (const auto& entry : fs::directory_iterator(ns::Sandbox::temporaryDirectory())) {
            fs::remove(entry.path());
        }
        call("encode", {ns::Value::dict({{"data", text}})});
        call("scan", {ns::Value::dict({{"formats", "QR_CODE"}, {"disableSuccessBeep", true}})});
        loop().advanceBy(3s);
        ASSERT_EQ(delegate_->results.size(), 2u) << "the scan answers";
        EXPECT_EQ(lastMessage(), scanResult(text, "QR_CODE", 0));
        EXPECT_FALSE(plugin_->activeScan()) << "the scanner is free again";
    }
}

// Once a scan has answered, nothing a late batch or a late button does reaches the page, and
// no screen comes back; while a flip restarts the camera, a read of the old camera that was
// still under way answers nothing either.
TEST_F(BarcodeScannerTest, AfterItsAnswerOrAFlipTheScanSendsNothingMore) {
    const auto lateEverything = [&](HYBbcsProcessor& processor) {
        processor.setCapturing(true);
        for (int i = 0; i < 7; ++i) {
            processor.captureOutput({av::MetadataMachineReadableCodeObject(
                av::AVMetadataObjectTypeQRCode, "late", {})});
        }
        processor.barcodeScanSucceeded("late", "QR_CODE");
        processor.barcodeScanCancelled();
        processor.barcodeScanFailed("late failure");
        processor.flipCamera();
        loop().advanceBy(2s);
    };
    // After a success.
    useDevices(mediatest::barcodeFrame("QRCode", "first"), true);
    call("scan", {ns::Value::dict({{"disableSuccessBeep", true}})});
    untilCapturing();
    auto processor = plugin_->activeScan();
    loop().advanceBy(1s);
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(lastMessage(), scanResult("first", "QR_CODE", 0));
    lateEverything(*processor);
    EXPECT_EQ(delegate_->results.size(), 1u);
    EXPECT_FALSE(controller_->presentedViewController());

    // After a cancel.
    useDevices(nullptr, true);
    call("scan", {ns::Value::dict({{"disableSuccessBeep", true}})});
    untilCapturing();
    processor = plugin_->activeScan();
    screen()->cancelButtonPressed();
    loop().runUntilIdle();
    ASSERT_EQ(delegate_->results.size(), 2u);
    lateEverything(*processor);
    EXPECT_EQ(delegate_->results.size(), 2u);
    EXPECT_FALSE(controller_->presentedViewController());

    // During a flip: the read under way when the camera was flipped.
    call("scan", {ns::Value::dict({{"showFlipCameraButton", true}})});
    untilCapturing();
    processor = plugin_->activeScan();
    screen()->flipCameraButtonPressed();
    loop().runUntilIdle();
    EXPECT_FALSE(controller_->presentedViewController());
    processor->barcodeScanSucceeded("old camera", "QR_CODE");
    loop().runUntilIdle();
    EXPECT_EQ(delegate_->results.size(), 2u);
    untilCapturing();
    screen()->cancelButtonPressed();
    loop().runUntilIdle();
    ASSERT_EQ(delegate_->results.size(), 3u);
    EXPECT_EQ(lastMessage(), scanResult("", "", 1));
}

// The reads must agree: the answer comes with the seventh frame that shows the code, and
// one answer only, however many equal codes a frame holds; the beep sounds once, before the
// screen goes.
TEST_F(BarcodeScannerTest, SevenEqualReadsInARowAnswerOnce) {
    auto frame = mediatest::barcodeFrame("QRCode", "twice", 900, 480);
    auto pair = ui::Bitmap::create(900, 480);
    // The same code twice, side by side: each frame gives a batch of two equal reads.
    auto code = mediatest::barcodeFrame("QRCode", "twice", 440, 480);
    ASSERT_TRUE(pair && code);
    for (int y = 0; y < 480; ++y) {
        auto* out = reinterpret_cast<uint32_t*>(pair->data() + size_t(y) * pair->stride());
        auto* in = reinterpret_cast<const uint32_t*>(code->data() + size_t(y) * code->stride());
        for (int x = 0; x < 900; ++x) out[x] = x < 440 ? in[x] : x >= 460 ? in[x - 460] : in[0];
    }
    pair->markDirty();
    useDevices(pair, false);
    call("scan");
    untilCapturing();
    auto processor = plugin_->activeScan();
    const uint64_t before = processor->captureSession()->frameCount();
    for (int i = 0; i < 3; ++i) nextFrame();
    EXPECT_TRUE(delegate_->results.empty()) << "six reads do not count";
    nextFrame();
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(lastMessage(), scanResult("twice", "QR_CODE", 0));
    EXPECT_EQ(processor->captureSession()->frameCount() - before, 4u)
        << "two reads a frame: the seventh read is in the fourth frame";
    EXPECT_EQ(beeps_, 1);
    EXPECT_TRUE(screenUpAtBeep_);
    EXPECT_FALSE(processor->captureSession()->isRunning());
}

TEST_F(BarcodeScannerTest, AgreementRuleNeedsSevenEqualReadsInARow) {
    auto processor = std::make_shared<HYBbcsProcessor>(plugin_, "x", controller_, std::nullopt);
    for (int i = 0; i < 6; ++i) EXPECT_FALSE(processor->checkResult("a"));
    EXPECT_TRUE(processor->checkResult("a"));
    EXPECT_FALSE(processor->checkResult("b"));
    for (int i = 0; i < 6; ++i) EXPECT_FALSE(processor->checkResult("a")) << i;
    EXPECT_TRUE(processor->checkResult("a"));
    // Two codes in view alternate: neither is ever accepted.
    for (int i = 0; i < 20; ++i) EXPECT_FALSE(processor->checkResult(i % 2 ? "a" : "b"));
    EXPECT_EQ(processor->results().size(), 7u);
}

// Cancel answers {"cancelled": 1} with status OK, dismisses the screen and stops the camera;
// codes the camera sees afterwards answer nothing more.
TEST_F(BarcodeScannerTest, CancelAnswersOnceAndStopsTheCamera) {
    useDevices(nullptr, false);
    call("scan", {ns::Value::dict({{"disableSuccessBeep", true}})});
    untilCapturing();
    auto processor = plugin_->activeScan();
    auto items = screen()->toolbar()->items();
    ASSERT_EQ(items.size(), 3u) << "no flip or torch unless asked";
    items[1]->sendActions();
    loop().runUntilIdle();
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(delegate_->results[0]->status(), HYBResultStatusOK);
    EXPECT_EQ(lastMessage(), scanResult("", "", 1));
    EXPECT_FALSE(controller_->presentedViewController());
    EXPECT_FALSE(processor->captureSession()->isRunning());
    // A batch that was under way when the user cancelled still arrives: it is ignored.
    processor->setCapturing(true);
    for (int i = 0; i < 7; ++i) {
        processor->captureOutput(
            {av::MetadataMachineReadableCodeObject(av::AVMetadataObjectTypeQRCode, "late", {})});
    }
    loop().runUntilIdle();
    EXPECT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(beeps_, 0);
}

// Closing the screen's window (or pressing Escape) is the user's cancel: the page hears it
// once, and the camera stops.
TEST_F(BarcodeScannerTest, ClosingTheScreenAnswersAsACancel) {
    useDevices(nullptr, false);
    call("scan", {ns::Value::dict({{"disableSuccessBeep", true}})});
    untilCapturing();
    auto processor = plugin_->activeScan();
    auto shown = screen();
    ASSERT_TRUE(shown->presentationController().closeByUser());
    loop().runUntilIdle();
    EXPECT_FALSE(controller_->presentedViewController());
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(delegate_->results[0]->status(), HYBResultStatusOK);
    EXPECT_EQ(lastMessage(), scanResult("", "", 1));
    EXPECT_FALSE(processor->captureSession()->isRunning());
    EXPECT_FALSE(shown->presentationController().closeByUser());
    shown->cancelButtonPressed();  // a late button press answers nothing more
    loop().runUntilIdle();
    EXPECT_EQ(delegate_->results.size(), 1u);
}

// A flip ends the screen without an answer and shows a new one on the front camera 0.1 s
// after the dismissal; the scan then answers from it. Without a front camera the flip fails.
TEST_F(BarcodeScannerTest, FlipRestartsOnTheOtherCameraOrFails) {
    useDevices(mediatest::barcodeFrame("QRCode", "front"), true);
    call("scan", {ns::Value::dict({{"showFlipCameraButton", true}, {"formats", "EAN_8"}})});
    untilCapturing();
    auto processor = plugin_->activeScan();
    auto first = screen();
    ASSERT_EQ(first->toolbar()->items().size(), 4u);
    ASSERT_EQ(first->toolbar()->items()[3]->systemItem(), ui::BarButtonItem::SystemItem::Camera);
    first->toolbar()->items()[3]->sendActions();
    loop().runUntilIdle();
    EXPECT_FALSE(controller_->presentedViewController());
    EXPECT_TRUE(delegate_->results.empty()) << "the page hears nothing of a flip";
    EXPECT_TRUE(processor->isFrontCamera());
    loop().advanceBy(1200ms);
    ASSERT_TRUE(screen());
    EXPECT_NE(screen(), first);
    EXPECT_EQ(processor->captureSession()->inputs()[0]->device()->uniqueID(), "front");

    // Flipping back to the back camera, then to a front camera that is gone.
    av::CaptureDevice::setDevices(std::vector{av::CaptureDevice::defaultDevice()});
    screen()->flipCameraButtonPressed();
    loop().advanceBy(1200ms);
    ASSERT_TRUE(screen());
    screen()->flipCameraButtonPressed();
    loop().advanceBy(1200ms);
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(delegate_->results[0]->status(), HYBResultStatusError);
    EXPECT_EQ(lastMessage(), ns::Value("unable to obtain video capture device"));
    EXPECT_FALSE(controller_->presentedViewController());
    EXPECT_FALSE(plugin_->activeScan());
}

// One camera, one screen: a second scan while one runs is refused, and the first goes on.
TEST_F(BarcodeScannerTest, SecondScanWhileOneRunsIsRefused) {
    useDevices(nullptr, false);
    call("scan");
    call("scan");
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(delegate_->results[0]->status(), HYBResultStatusError);
    untilCapturing();
    screen()->cancelButtonPressed();
    loop().runUntilIdle();
    ASSERT_EQ(delegate_->results.size(), 2u);
    EXPECT_EQ(lastMessage(), scanResult("", "", 1));
    call("scan");
    loop().advanceBy(1100ms);
    EXPECT_TRUE(screen()) << "a new scan may start once the first has answered";
}

// Each failure of the camera set-up reaches the page once, as an error with its text, and
// no screen is left behind.
TEST_F(BarcodeScannerTest, CaptureSetUpFailuresAnswerTheirText) {
    useDevices(nullptr, false);
    const std::pair<const char*, const char*> cases[] = {
        {"capture.input", "unable to obtain video capture device input"},
        {"capture.output", "unable to obtain video capture output"},
        {"capture.addInput", "unable to add video capture device input to session"},
        {"capture.addOutput", "unable to add video capture output to session"},
    };
    ns::InjectedFaults faults;
    for (const auto& [operation, text] : cases) {
        delegate_->results.clear();
        faults.add(operation, 1);
        call("scan");
        loop().advanceBy(2s);
        ASSERT_EQ(delegate_->results.size(), 1u) << operation;
        EXPECT_EQ(delegate_->results[0]->status(), HYBResultStatusError);
        EXPECT_EQ(lastMessage(), ns::Value(text));
        EXPECT_FALSE(controller_->presentedViewController());
    }
    delegate_->results.clear();
    faults.add("capture.preset", 1, 2);
    call("scan");
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(lastMessage(), ns::Value("unable to preset high nor medium quality video capture"));
    // The high preset refused alone: the medium one is taken and the scan goes on.
    faults.add("capture.preset", 1);
    call("scan");
    untilCapturing();
    EXPECT_EQ(plugin_->activeScan()->captureSession()->sessionPreset(),
              av::AVCaptureSessionPresetMedium);
}

TEST_F(BarcodeScannerTest, PermissionAndUsageDescriptionAreChecked) {
    useDevices(nullptr, false);
    av::CaptureDevice::setAuthorizationStatus(av::AuthorizationStatus::Denied);
    call("scan");
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(lastMessage(), ns::Value("Access to the camera has been prohibited; please enable "
                                       "it in the Settings app to continue."));
    av::CaptureDevice::setAuthorizationStatus(av::AuthorizationStatus::Authorized);
    std::ofstream(dir_ / "App" / "Info.plist")
        << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict></dict></plist>";
    ns::Bundle::setMainBundlePath((dir_ / "App").string());
    call("scan");
    ASSERT_EQ(delegate_->results.size(), 2u);
    EXPECT_EQ(lastMessage(), ns::Value("NSCameraUsageDescription is not set in the info.plist"));
    // A localized description is enough.
    fs::create_directories(dir_ / "App" / "en.lproj");
    std::ofstream(dir_ / "App" / "en.lproj" / "InfoPlist.strings")
        << "\"NSCameraUsageDescription\" = \"Scans codes.\";";
    ns::Bundle::setMainBundlePath((dir_ / "App").string());
    call("scan");
    loop().advanceBy(1100ms);
    EXPECT_TRUE(screen());
}

// Bad encode calls are errors, never a path to a file that does not exist.
TEST_F(BarcodeScannerTest, EncodeFailuresAreErrors) {
    call("encode");
    call("encode", {ns::Value::dict({})});
    call("encode", {ns::Value::dict({{"data", 42}})});
    call("encode", {ns::Value::dict({{"data", ""}})});
    call("encode", {ns::Value::dict({{"data", std::string(3000, 'x')}})});
    {
        // The temporary folder is not a folder: the file cannot be written.
        const std::string tmp = ns::Sandbox::temporaryDirectory();
        fs::remove_all(tmp);
        std::ofstream(tmp.substr(0, tmp.size() - 1)) << "in the way";
        call("encode", {ns::Value::dict({{"data", "fine"}})});
        fs::remove(tmp.substr(0, tmp.size() - 1));
        fs::create_directories(tmp);
    }
    ASSERT_EQ(delegate_->results.size(), 6u);
    for (const auto& result : delegate_->results) {
        EXPECT_EQ(result->status(), HYBResultStatusError) << result->message().description();
        EXPECT_TRUE(result->message().isString());
    }
    EXPECT_EQ(delegate_->results[0]->message(), ns::Value("Too few arguments!"));
    EXPECT_TRUE(fs::is_empty(ns::Sandbox::temporaryDirectory()));
}

TEST_F(BarcodeScannerTest, FormatsOptionChoosesTheWatchedKinds) {
    auto processor = std::make_shared<HYBbcsProcessor>(plugin_, "x", controller_, std::nullopt);
    EXPECT_EQ(processor->formatObjectTypes().size(), 12u);
    const std::pair<const char*, std::vector<av::MetadataObjectType>> cases[] = {
        {"QR_CODE,EAN_13", {av::AVMetadataObjectTypeQRCode, av::AVMetadataObjectTypeEAN13Code}},
        {"QR_CODE, EAN_13", {av::AVMetadataObjectTypeQRCode}},
        {"UPC_A", {}},
        {"", {}},
        {"ITF_14,ITF,nonsense",
         {av::AVMetadataObjectTypeInterleaved2of5Code, av::AVMetadataObjectTypeITF14Code}},
    };
    for (const auto& [formats, types] : cases) {
        processor->setFormats(formats);
        EXPECT_EQ(processor->formatObjectTypes(), types) << formats;
    }
    auto read = [&](const av::MetadataObjectType& type, const char* text) {
        return processor->formatStringFromMetadata(
            av::MetadataMachineReadableCodeObject(type, text, {}));
    };
    EXPECT_EQ(read(av::AVMetadataObjectTypeEAN13Code, "0012345678905"), "UPC_A");
    EXPECT_EQ(read(av::AVMetadataObjectTypeEAN13Code, "5901234123457"), "EAN_13");
    EXPECT_EQ(read("SomethingElse", "x"), "???");
}

// The built-in overlay on a 375 x 667 screen: toolbar at the bottom, reticle centred above
// it; with flip and torch the items read torch, space, cancel, space, camera; no torch for
// the front camera.
TEST_F(BarcodeScannerTest, BuiltInOverlayLayout) {
    useDevices(nullptr, true);
    auto processor = std::make_shared<HYBbcsProcessor>(plugin_, "x", controller_, std::nullopt);
    processor->setIsShowFlipCameraButton(true);
    processor->setIsShowTorchButton(true);
    auto screen = std::make_shared<HYBbcsViewController>(processor, std::nullopt);
    screen->setView(ui::View::create({0, 0, 375, 667}));
    ASSERT_TRUE(screen->buildOverlayView());
    EXPECT_EQ(screen->toolbar()->frame(), (ui::Rect{0, 623, 375, 44}));
    EXPECT_EQ(screen->reticleView()->frame().size, (ui::Size{375, 375}));
    EXPECT_EQ(screen->reticleView()->center(), (ui::Point{187.5, 311.5}));
    // The reticle's view shows its picture, fitted with its aspect kept.
    EXPECT_EQ(screen->reticleView()->image(), screen->reticleImage());
    EXPECT_EQ(screen->reticleView()->contentMode(), ui::ContentMode::ScaleAspectFit);
    EXPECT_EQ(screen->reticleView()->superview(), screen->overlayView());
    const auto& items = screen->toolbar()->items();
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0]->title(), std::optional<std::string>("Torch"));
    EXPECT_EQ(items[2]->systemItem(), ui::BarButtonItem::SystemItem::Cancel);
    EXPECT_EQ(items[4]->systemItem(), ui::BarButtonItem::SystemItem::Camera);
    // The reticle: a red line across the middle and a green square outline.
    const auto& reticle = *screen->reticleImage()->bitmap();
    EXPECT_EQ(reticle.width(), 500);
    EXPECT_GT(reticle.pixel(250, 250).red, 200);
    EXPECT_GT(reticle.pixel(60, 250).green, 200);
    EXPECT_EQ(reticle.pixel(150, 150).alpha, 0);

    // The torch is the scanner bundle's picture where the application ships one.
    fs::copy_file(fs::path(HYB_SOURCE_DIR) / "examples/bundle/HYBBarcodeScanner.bundle/torch.png",
                  dir_ / "App" / "HYBBarcodeScanner.bundle" / "torch.png");
    auto pictured = std::make_shared<HYBbcsViewController>(processor, std::nullopt);
    pictured->setView(ui::View::create({0, 0, 375, 667}));
    ASSERT_TRUE(pictured->buildOverlayView());
    const auto& torch = pictured->toolbar()->items().at(0);
    ASSERT_TRUE(torch->image());
    EXPECT_GT(torch->image()->size().width, 0);
    EXPECT_FALSE(torch->title());
    torch->sendActions();
    loop().runUntilIdle();
    EXPECT_TRUE(av::CaptureDevice::defaultDevice()->isTorchActive());

    processor->setIsFrontCamera(true);
    auto front = std::make_shared<HYBbcsViewController>(processor, std::nullopt);
    front->setView(ui::View::create({0, 0, 375, 667}));
    front->buildOverlayView();
    EXPECT_EQ(front->toolbar()->items().size(), 4u);
}

// A custom overlay file replaces toolbar and reticle; its items run the screen's actions. A
// name that is not a bare resource name loads nothing.
TEST_F(BarcodeScannerTest, OverlayFileReplacesTheBuiltInOverlay) {
    useDevices(nullptr, false);
    std::ofstream(dir_ / "App" / "Overlay.interface.json") << R"({"objects": [
        {"class": "View", "id": "overlayView", "frame": [0, 0, 10, 10], "subviews": [
            {"class": "Toolbar", "items": [
                {"class": "BarButtonItem", "id": "cancelButtonPressed", "title": "Stop"}]}]}]})";
    fs::create_directories(dir_ / "elsewhere");
    fs::copy_file(dir_ / "App" / "Overlay.interface.json",
                  dir_ / "elsewhere" / "Overlay.interface.json");
    testsupport::LogCapture log;
    call("scan", {ns::Value::dict({{"overlayXib", "../elsewhere/Overlay"}})});
    untilCapturing();
    EXPECT_FALSE(screen()->overlayView());
    EXPECT_TRUE(log.contains("It appears that the overlayView outlet is not set."));
    screen()->cancelButtonPressed();
    loop().runUntilIdle();

    call("scan", {ns::Value::dict({{"overlayXib", "Overlay"}})});
    untilCapturing();
    auto overlay = screen()->overlayView();
    ASSERT_TRUE(overlay);
    EXPECT_FALSE(screen()->toolbar());
    EXPECT_EQ(overlay->frame(), screen()->view()->bounds());
    auto bar = std::dynamic_pointer_cast<ui::Toolbar>(overlay->subviews().at(0));
    ASSERT_TRUE(bar);
    bar->items().at(0)->sendActions();
    loop().runUntilIdle();
    EXPECT_EQ(lastMessage(), scanResult("", "", 1));
}

TEST_F(BarcodeScannerTest, TorchTogglesOnTheBackCamera) {
    useDevices(nullptr, false);
    call("scan", {ns::Value::dict({{"showTorchButton", true}})});
    untilCapturing();
    auto device = av::CaptureDevice::defaultDevice();
    EXPECT_EQ(device->focusMode(), av::CaptureFocusMode::ContinuousAutoFocus);
    EXPECT_EQ(device->autoFocusRangeRestriction(), av::CaptureAutoFocusRangeRestriction::Near);
    screen()->toolbar()->items().at(0)->sendActions();
    loop().runUntilIdle();
    EXPECT_TRUE(device->isTorchActive());
    EXPECT_TRUE(device->isFlashActive());
    screen()->torchButtonPressed();
    loop().runUntilIdle();
    EXPECT_FALSE(device->isTorchActive());
    screen()->cancelButtonPressed();
    loop().runUntilIdle();
    EXPECT_EQ(device->autoFocusRangeRestriction(), av::CaptureAutoFocusRangeRestriction::None);
}

// A custom overlay may offer the torch on a camera that lacks the torch or the flash: the torch
// button switches what the camera has on and off again, and nothing else.
TEST_F(BarcodeScannerTest, TorchButtonSwitchesWhatTheCameraHas) {
    struct Case {
        bool torch;
        bool flash;
    };
    for (const Case& c : {Case{false, false}, Case{true, false}, Case{false, true}}) {
        SCOPED_TRACE(::testing::Message() << "torch " << c.torch << ", flash " << c.flash);
        auto device = std::make_shared<av::CaptureDevice>(
            "back", av::CaptureDevicePosition::Back,
            av::CaptureDevice::Capabilities{c.torch, c.flash, false, false}, nullptr);
        av::CaptureDevice::setDevices(std::vector{device});
        auto processor = std::make_shared<HYBbcsProcessor>(plugin_, "x", controller_, std::nullopt);
        processor->toggleTorch();
        EXPECT_EQ(device->isTorchActive(), c.torch);
        EXPECT_EQ(device->isFlashActive(), c.flash);
        // Left unlocked: a setting changed now is a fault of the caller's.
        EXPECT_THROW(device->setFocusMode(av::CaptureFocusMode::AutoFocus), ns::Exception);
        processor->toggleTorch();
        EXPECT_FALSE(device->isTorchActive());
        EXPECT_FALSE(device->isFlashActive());
    }
}

// A root controller that already shows another screen cannot show the scanner: the page
// hears so instead of waiting forever, and the camera stops.
TEST_F(BarcodeScannerTest, ScannerThatCannotBeShownAnswersAnError) {
    useDevices(nullptr, false);
    controller_->presentViewController(ui::ViewController::create(), false);
    loop().runUntilIdle();
    call("scan");
    auto processor = plugin_->activeScan();
    ASSERT_TRUE(processor);
    loop().advanceBy(1100ms);
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(lastMessage(), ns::Value("unable to present the scanner screen"));
    EXPECT_FALSE(processor->captureSession()->isRunning());
    EXPECT_FALSE(plugin_->activeScan());
}

}  // namespace
