#include <pthread.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBInvokedUrlCommand.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBViewController.h"
#include "platform/av/AssetImageGenerator.h"
#include "platform/av/VideoCodec.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/Data.h"
#include "platform/ns/Sandbox.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/rt/ModuleLoader.h"
#include "platform/testing/InjectedFaults.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/ImageCodec.h"
#include "platform/ui/Screen.h"
#include "plugins/device_storage/HYBFile.h"
#include "plugins/media_browser/HYBVideoThumbnail.h"
#include "tests/plugins/media_browser/support/ClipWriter.h"
#include "tests/plugins/media_browser/support/FolderSwapper.h"
#include "tests/plugins/media_browser/support/MediaFixture.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/TempDir.h"

namespace {

using mediatest::Colour;

constexpr Colour kGreen{0, 255, 0};
constexpr Colour kRed{255, 0, 0};
constexpr Colour kBlue{0, 0, 255};

class VideoThumbnailTest : public mediatest::MediaFixture {
protected:
    void SetUp() override {
        MediaFixture::SetUp();
        attach(*plugin_);
        clip_ = ns::Sandbox::temporaryDirectory() + "clip.mp4";
        ASSERT_TRUE(mediatest::writeClip(clip_, 160, 90, {kGreen, kRed, kBlue}));
    }

    std::shared_ptr<HYBPluginResult> call(ns::Array arguments) {
        delegate_->results.clear();
        plugin_->performAction("createThumbnail",
                               HYBInvokedUrlCommand(std::move(arguments), "Thumb1",
                                                    "VideoThumbnail", "createThumbnail"));
        loop().runUntilIdle();
        EXPECT_EQ(delegate_->results.size(), 1u);
        return delegate_->results.empty() ? std::make_shared<HYBPluginResult>()
                                          : delegate_->results.back();
    }

    static std::string message(const std::shared_ptr<HYBPluginResult>& r) {
        return r->message().stringValue();
    }

    static std::shared_ptr<ui::Bitmap> decodeFile(const std::string& path) {
        const std::string bytes = mediatest::readFile(path);
        return ui::ImageCodec::decode(ns::Data(bytes.data(), bytes.size()));
    }

    static ::testing::AssertionResult near(ui::Bitmap::Pixel p, Colour c) {
        auto close = [](int a, int b) { return std::abs(a - b) < 48; };
        if (close(p.red, c.red) && close(p.green, c.green) && close(p.blue, c.blue)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "pixel " << int(p.red) << "," << int(p.green) << "," << int(p.blue);
    }

    std::shared_ptr<HYBVideoThumbnail> plugin_ = std::make_shared<HYBVideoThumbnail>();
    std::string clip_;
};

// The target comes back exactly as passed, the frame is the one shown at 1 s, and a name
// with a space and "#" lands in the file of that name.
TEST_F(VideoThumbnailTest, FileModeWritesTheFrameAtOneSecondByDefault) {
    const std::string target = "hybfile://localhost/temporary/my%20thumb%23.jpg";
    auto result = call({"hybfile://localhost/temporary/clip.mp4", target});
    ASSERT_EQ(result->status(), HYBResultStatusOK) << message(result);
    EXPECT_EQ(message(result), target);
    auto image = decodeFile(ns::Sandbox::temporaryDirectory() + "my thumb#.jpg");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 160);
    EXPECT_EQ(image->height(), 90);
    EXPECT_TRUE(near(image->pixel(20, 45), kRed));
    EXPECT_TRUE(near(image->pixel(140, 45), {255, 255, 255}));
}

TEST_F(VideoThumbnailTest, ModesAndPositions) {
    const std::string source = "file://" + clip_;
    auto array =
        call({source, ns::Value(), ns::Value::dict({{"mode", "ARRAY"}, {"position", 0.5}})});
    ASSERT_EQ(array->status(), HYBResultStatusOK) << message(array);
    const auto& envelope = array->message();
    ASSERT_EQ(envelope["HYBType"].stringValue(), "ArrayBuffer");
    auto bytes = ns::Data::fromBase64(envelope["data"].stringValue());
    ASSERT_TRUE(bytes);
    auto green = ui::ImageCodec::decode(*bytes);
    ASSERT_TRUE(green);
    EXPECT_TRUE(near(green->pixel(20, 45), kGreen));

    // Past the end gives the last frame; any other mode gives a data URL.
    auto url = call({source, ns::Value(), ns::Value::dict({{"mode", "base64"}, {"position", 99}})});
    ASSERT_EQ(url->status(), HYBResultStatusOK) << message(url);
    const std::string prefix = "data:image/jpeg;base64,";
    ASSERT_TRUE(message(url).starts_with(prefix));
    auto blue = ui::ImageCodec::decode(*ns::Data::fromBase64(message(url).substr(prefix.size())));
    ASSERT_TRUE(blue);
    EXPECT_TRUE(near(blue->pixel(20, 45), kBlue));
}

// A frame whose rows are not a whole number of the converter's vector widths keeps every row
// in place and comes out opaque, whether the converter's buffer becomes the bitmap (a width
// that is a multiple of four) or is copied into one (any other).
TEST_F(VideoThumbnailTest, AFrameOfAnOddWidthKeepsItsRows) {
    for (const int width : {100, 102}) {
        SCOPED_TRACE(width);
        const std::string narrow =
            ns::Sandbox::temporaryDirectory() + "narrow" + std::to_string(width) + ".mp4";
        ASSERT_TRUE(mediatest::writeClip(narrow, width, 60, {kGreen, kGreen}));
        const auto url = ns::URL::fileURLWithPath(narrow);
        auto frame = av::AssetImageGenerator(url).copyCGImageAtTime(1);
        ASSERT_TRUE(frame.ok()) << frame.error().description();
        const auto& bitmap = *frame.value();
        ASSERT_EQ(bitmap.width(), width);
        ASSERT_EQ(bitmap.height(), 60);
        for (int y : {2, 30, 57}) {
            SCOPED_TRACE(y);
            EXPECT_TRUE(near(bitmap.pixel(10, y), kGreen));
            EXPECT_TRUE(near(bitmap.pixel(90, y), {255, 255, 255}));
            EXPECT_EQ(bitmap.pixel(10, y).alpha, 255);
            EXPECT_EQ(bitmap.pixel(width - 1, y).alpha, 255);
        }
        // A copy reads the same rows.
        const auto copied = bitmap.copy();
        ASSERT_TRUE(copied);
        EXPECT_EQ(copied->pixel(10, 57), bitmap.pixel(10, 57));
        EXPECT_EQ(copied->pixel(width - 1, 30), bitmap.pixel(width - 1, 30));
    }
}

TEST_F(VideoThumbnailTest, SidewaysRecordingComesOutUpright) {
    const std::string rotated = ns::Sandbox::temporaryDirectory() + "portrait.mp4";
    ASSERT_TRUE(mediatest::writeClip(rotated, 64, 32, {kRed, kRed}, 90));
    auto result = call({"file://" + rotated, ns::Value(), ns::Value::dict({{"mode", "array"}})});
    ASSERT_EQ(result->status(), HYBResultStatusOK) << message(result);
    auto image =
        ui::ImageCodec::decode(*ns::Data::fromBase64(result->message()["data"].stringValue()));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 32);
    EXPECT_EQ(image->height(), 64);
    // The stored left half stands on top once turned a quarter clockwise.
    EXPECT_TRUE(near(image->pixel(16, 10), kRed));
    EXPECT_TRUE(near(image->pixel(16, 54), {255, 255, 255}));
}

TEST_F(VideoThumbnailTest, ResizeFitsTheBoxAtScreenScaleAndIsBounded) {
    const std::string source = "file://" + clip_;
    auto fitted =
        call({source, ns::Value(),
              ns::Value::dict({{"mode", "array"},
                               {"resize", ns::Value::dict({{"width", 100}, {"height", 100}})}})});
    ASSERT_EQ(fitted->status(), HYBResultStatusOK) << message(fitted);
    auto image =
        ui::ImageCodec::decode(*ns::Data::fromBase64(fitted->message()["data"].stringValue()));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 300);
    EXPECT_EQ(image->height(), 169);  // 56.25 points at 3 pixels a point, rounded up

    auto huge =
        call({source, ns::Value(),
              ns::Value::dict({{"mode", "array"},
                               {"resize", ns::Value::dict({{"width", 1e9}, {"height", 1e9}})}})});
    ASSERT_EQ(huge->status(), HYBResultStatusOK) << message(huge);
    auto capped =
        ui::ImageCodec::decode(*ns::Data::fromBase64(huge->message()["data"].stringValue()));
    ASSERT_TRUE(capped);
    EXPECT_LE(int64_t(capped->width()) * capped->height(), ui::Bitmap::kMaxPixelCount);

    for (double side : {0.0, -5.0}) {
        auto refused = call(
            {source, ns::Value(),
             ns::Value::dict({{"resize", ns::Value::dict({{"width", side}, {"height", 10}})}})});
        EXPECT_EQ(refused->status(), HYBResultStatusJSONError) << side;
    }
}

// A file-mode target must be a file inside the sandbox and outside the bundle: a bare path
// is never taken from the working directory, a file URL elsewhere is refused.
TEST_F(VideoThumbnailTest, TargetsOutsideTheSandboxOrInTheBundleAreRefused) {
    const std::string source = "file://" + clip_;
    std::ofstream((dir_ / "App" / "www" / "thumb.jpg").string()) << "keep";
    const std::string outside = (dir_ / "outside.jpg").string();
    for (const std::string& target :
         {std::string("out.jpg"), std::string("thumb.jpg"), "file://" + outside,
          "file://" + ns::Sandbox::temporaryDirectory() + "../../../outside.jpg"}) {
        auto result = call({source, target});
        EXPECT_EQ(result->status(), HYBResultStatusError) << target;
        EXPECT_EQ(message(result),
                  "Target can't be in the bundle. Source: " + source + ", Target: " + target);
    }
    EXPECT_FALSE(std::filesystem::exists(outside));
    EXPECT_FALSE(std::filesystem::exists("out.jpg"));
    std::ifstream kept((dir_ / "App" / "www" / "thumb.jpg").string());
    std::string text;
    kept >> text;
    EXPECT_EQ(text, "keep");
}

// Where a target leads is what counts, links resolved: a folder of the container that links
// outside it, or into a bundle that lies in the container, takes no thumbnail, and neither
// does the bundle reached through a link to it.
TEST_F(VideoThumbnailTest, TargetsThatLeadOutThroughLinksAreRefused) {
    namespace fs = std::filesystem;
    const fs::path documents = ns::Sandbox::documentsDirectory();
    const fs::path outside = dir_.path() / "outside";
    const fs::path bundle = fs::path(ns::Sandbox::libraryDirectory()) / "Installed.bundle";
    fs::create_directories(outside);
    fs::create_directories(bundle / "www");
    fs::create_directory_symlink(outside, documents / "out");
    fs::create_directory_symlink(bundle / "www", documents / "web");
    fs::create_directory_symlink(bundle, documents / "bundle-link");
    const std::string source = "file://" + clip_;
    for (const auto& [bundlePath, target] : std::vector<std::pair<fs::path, fs::path>>{
             {dir_.path() / "App", documents / "out" / "thumb.jpg"},
             {bundle, documents / "web" / "thumb.jpg"},
             {documents / "bundle-link", bundle / "www" / "thumb.jpg"}}) {
        ns::Bundle::setMainBundlePath(bundlePath.string());
        auto result = call({source, "file://" + target.string()});
        EXPECT_EQ(result->status(), HYBResultStatusError) << target;
        EXPECT_EQ(message(result), "Target can't be in the bundle. Source: " + source +
                                       ", Target: file://" + target.string());
    }
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_TRUE(fs::is_empty(bundle / "www"));
    // A link that stays inside the container is followed.
    ns::Bundle::setMainBundlePath((dir_.path() / "App").string());
    fs::create_directory_symlink(ns::Sandbox::temporaryDirectory(), documents / "tmp-link");
    auto written = call({source, "file://" + (documents / "tmp-link" / "t.jpg").string()});
    EXPECT_EQ(written->status(), HYBResultStatusOK) << message(written);
    EXPECT_TRUE(fs::is_regular_file(ns::Sandbox::temporaryDirectory() + "t.jpg"));
}

TEST_F(VideoThumbnailTest, BadSourcesAndOptionsAnswerErrors) {
    auto missing = call({"nowhere.mp4", "hybfile://localhost/temporary/t.jpg"});
    EXPECT_EQ(missing->status(), HYBResultStatusError);
    EXPECT_TRUE(message(missing).starts_with(
        "Could not extract thumbnail from (null) at time 1.000000; err=Error Domain="))
        << message(missing);

    const std::string junk = ns::Sandbox::temporaryDirectory() + "junk.mp4";
    std::ofstream(junk) << "this is not a video at all";
    const std::string fifo = ns::Sandbox::temporaryDirectory() + "fifo.mp4";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& source :
         {"file://" + junk, "file://" + fifo, std::string("http://127.0.0.1:9/clip.mp4")}) {
        auto result = call({source, ns::Value(), ns::Value::dict({{"mode", "array"}})});
        EXPECT_EQ(result->status(), HYBResultStatusError) << source;
        EXPECT_TRUE(message(result).starts_with("Could not extract thumbnail from " + source))
            << message(result);
    }

    for (const auto& options : {ns::Value("position=2"), ns::Value::dict({{"mode", 3}}),
                                ns::Value::dict({{"quality", "high"}})}) {
        auto result = call({"file://" + clip_, ns::Value(), options});
        EXPECT_EQ(result->status(), HYBResultStatusJSONError) << options.description();
        EXPECT_FALSE(message(result).empty());
    }
}

// A source is read only where the file plug-in reads: a clip in the keychain folder, or one
// reached through a link from inside the container, answers exactly as a missing file does.
TEST_F(VideoThumbnailTest, SourcesOutsideWhatTheAppMayReadAnswerAsMissing) {
    const std::string secret = ns::Sandbox::keychainDirectory() + "/secret.mp4";
    std::filesystem::create_directories(ns::Sandbox::keychainDirectory());
    ASSERT_TRUE(mediatest::writeClip(secret, 32, 16, {kRed}));
    const std::string link = ns::Sandbox::documentsDirectory() + "/link.mp4";
    std::filesystem::create_directories(ns::Sandbox::documentsDirectory());
    std::filesystem::create_symlink(secret, link);
    const ns::Dictionary data{{"mode", "data"}};
    const auto missing =
        message(call({"file://" + ns::Sandbox::documentsDirectory() + "/none.mp4", "", data}));
    EXPECT_NE(missing.find("The requested URL was not found."), std::string::npos) << missing;
    for (const std::string& source : {"file://" + secret, "file://" + link}) {
        SCOPED_TRACE(source);
        auto result = call({source, "", data});
        EXPECT_EQ(result->status(), HYBResultStatusError);
        const std::string text = message(result);
        EXPECT_NE(text.find("err=" + missing.substr(missing.find("err=") + 4)), std::string::npos)
            << text;
    }
    // The file plug-in does not map a link that leads out to any file.
    EXPECT_EQ(call({"hybfile://localhost/persistent/link.mp4", "", data})->status(),
              HYBResultStatusError);
    // The same clip inside the container reads.
    EXPECT_EQ(call({"file://" + clip_, "", data})->status(), HYBResultStatusOK);
}

// A folder on the way to the source that another process keeps swapping for a link to the
// outside never leads the thumbnail out: each answer is of the clip inside, or the answer of a
// missing file, whatever moment the swap comes at.
TEST_F(VideoThumbnailTest, ASourceFolderSwappedForALinkNeverLeadsOut) {
    const std::filesystem::path documents = ns::Sandbox::documentsDirectory();
    const std::filesystem::path outside = dir_ / "outside";
    std::filesystem::create_directories(documents / "dir");
    std::filesystem::create_directories(outside);
    ASSERT_TRUE(mediatest::writeClip((documents / "dir" / "c.mp4").string(), 32, 16, {kGreen}));
    ASSERT_TRUE(mediatest::writeClip((outside / "c.mp4").string(), 32, 16, {kRed}));
    std::filesystem::create_directory_symlink(outside, documents / "swap");
    const std::string source = "file://" + (documents / "dir" / "c.mp4").string();
    const ns::Dictionary array{{"mode", "array"}, {"position", 0}};
    {
        // The swap at the very moment the source is opened.
        ns::InjectedFaults::at("open", [&] {
            std::filesystem::rename(documents / "dir", documents / "dir.real");
            std::filesystem::rename(documents / "swap", documents / "dir");
        });
        auto result = call({source, "", array});
        EXPECT_EQ(result->status(), HYBResultStatusError);
        EXPECT_NE(message(result).find("The requested URL was not found."), std::string::npos)
            << message(result);
        std::filesystem::rename(documents / "dir", documents / "swap");
        std::filesystem::rename(documents / "dir.real", documents / "dir");
    }
    int inside = 0;
    mediatest::FolderSwapper swapper(documents / "dir", documents / "swap");
    for (int i = 0; i < 300 || swapper.swaps() < 20; ++i) {
        auto result = call({source, "", array});
        if (result->status() != HYBResultStatusOK) continue;
        auto image =
            ui::ImageCodec::decode(*ns::Data::fromBase64(result->message()["data"].stringValue()));
        ASSERT_TRUE(image);
        ASSERT_TRUE(near(image->pixel(2, 8), kGreen)) << "read outside after " << i << " reads";
        ++inside;
    }
    EXPECT_GT(inside, 0);
}

// The probe, seek and decode are bounded in time as a whole: past the budget the page gets an
// error at once, and the work left behind is dropped.
TEST_F(VideoThumbnailTest, AProbePastItsBudgetAnswersAnError) {
    const auto saved = av::AssetImageGenerator::workBudget();
    av::AssetImageGenerator::setWorkBudget(std::chrono::milliseconds(0));
    auto result = call({"file://" + clip_, "", ns::Dictionary{{"mode", "data"}}});
    av::AssetImageGenerator::setWorkBudget(saved);
    EXPECT_EQ(result->status(), HYBResultStatusError);
    EXPECT_NE(message(result).find("Could not extract thumbnail"), std::string::npos);
    EXPECT_EQ(call({"file://" + clip_, "", ns::Dictionary{{"mode", "data"}}})->status(),
              HYBResultStatusOK);
}

// A stand-in for the media libraries whose frames at kStuckAt never come until released, as a
// decoder caught in one damaged packet; every other frame comes at once. It notes the thread
// each frame was made on.
class GatedCodec : public av::VideoCodec {
public:
    static constexpr double kStuckAt = 7;
    struct Gate {
        std::mutex mutex;
        std::condition_variable opened;
        bool open = false;
        std::vector<std::string> threads;
    };

    explicit GatedCodec(std::shared_ptr<Gate> gate) : gate_(std::move(gate)) {}

    ns::Result<std::shared_ptr<ui::Bitmap>> frameAt(int, double seconds, bool,
                                                    av::DecodeStop&) const override {
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        std::unique_lock lock(gate_->mutex);
        gate_->threads.emplace_back(name);
        if (seconds == kStuckAt) {
            gate_->opened.wait(lock, [&] { return gate_->open; });
        }
        return ui::Bitmap::create(8, 8);
    }
    ns::Result<av::AssetTrackInfo> trackInfo(int, av::DecodeStop&) const override {
        return av::AssetTrackInfo{};
    }

private:
    std::shared_ptr<Gate> gate_;
};

// A source stuck past its deadline answers an error at once; the next thumbnail is made while
// the stuck work still runs, and what that work hands in at last reaches nobody.
TEST_F(VideoThumbnailTest, AStuckSourceIsAbandonedWithoutHoldingUpTheNext) {
    auto gate = std::make_shared<GatedCodec::Gate>();
    ns::ScopedSharedInstance<rt::ModuleLoader> loader;
    ns::ScopedSharedInstance<rt::ClassRegistry> registry;
    rt::ModuleLoader::shared().announce(av::VideoCodec::kClassName,
                                        [gate] { return std::make_shared<GatedCodec>(gate); });
    const auto saved = av::AssetImageGenerator::workBudget();
    const auto thumbnail = [&](double position) {
        plugin_->performAction(
            "createThumbnail",
            HYBInvokedUrlCommand(
                {"file://" + clip_, "", ns::Dictionary{{"mode", "data"}, {"position", position}}},
                "Thumb1", "VideoThumbnail", "createThumbnail"));
    };
    delegate_->results.clear();
    av::AssetImageGenerator::setWorkBudget(std::chrono::milliseconds(0));
    thumbnail(GatedCodec::kStuckAt);
    av::AssetImageGenerator::setWorkBudget(saved);
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(delegate_->results[0]->status(), HYBResultStatusError);
    EXPECT_NE(message(delegate_->results[0]).find("took too long"), std::string::npos)
        << message(delegate_->results[0]);

    // Still stuck: were this frame queued behind it, it would run out of its whole budget.
    thumbnail(1);
    ASSERT_EQ(delegate_->results.size(), 2u);
    EXPECT_EQ(delegate_->results[1]->status(), HYBResultStatusOK) << message(delegate_->results[1]);

    {
        std::lock_guard lock(gate->mutex);
        gate->open = true;
    }
    gate->opened.notify_all();
    loop().runUntilIdle();
    EXPECT_EQ(delegate_->results.size(), 2u);

    // Once the stuck work has ended, frames go back to the warm worker it held.
    thumbnail(1);
    ASSERT_EQ(delegate_->results.size(), 3u);
    EXPECT_EQ(delegate_->results[2]->status(), HYBResultStatusOK) << message(delegate_->results[2]);
    std::lock_guard lock(gate->mutex);
    ASSERT_EQ(gate->threads.size(), 3u);
    EXPECT_EQ(gate->threads[2], gate->threads[0]);
    EXPECT_NE(gate->threads[1], gate->threads[0]);
}

}  // namespace
