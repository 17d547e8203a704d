#include <filesystem>
#include <fstream>
#include <memory>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBInvokedUrlCommand.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBViewController.h"
#include "platform/av/PhotoLibrary.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/URL.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Device.h"
#include "platform/ui/ImageCodec.h"
#include "platform/ui/PresentationController.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/Window.h"
#include "plugins/media_browser/MIPAlbumPickerController.h"
#include "plugins/media_browser/MIPAssetTablePicker.h"
#include "plugins/media_browser/MIPImagePickerController.h"
#include "plugins/media_browser/ZIVPhotoPipeline.h"
#include "plugins/media_browser/ZIVPicker.h"
#include "tests/plugins/media_browser/support/MediaFixture.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/PresentedScreen.h"
#include "tests/support/TempDir.h"

namespace {

// A JPEG of the size, its left half red and right half blue, with an EXIF orientation tag
// when `orientation` is not 1.
ns::Data photo(int width, int height, int orientation = 1) {
    auto bitmap = ui::Bitmap::create(width, height);
    auto* pixels = reinterpret_cast<uint32_t*>(bitmap->data());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels[y * bitmap->stride() / 4 + x] = x < width / 2 ? 0xffff0000 : 0xff0000ff;
        }
    }
    bitmap->markDirty();
    std::string jpeg(ui::ImageCodec::encodeJPEG(*bitmap, 0.9)->chars());
    if (orientation != 1) {
        // APP1 "Exif", big-endian TIFF with one entry: tag 0x0112, SHORT, count 1.
        const std::string tiff =
            std::string("MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0", 19) +
            char(orientation) + std::string("\0\0\0\0\0\0", 6);
        const std::string body = std::string("Exif\0\0", 6) + tiff;
        const size_t length = body.size() + 2;
        const std::string app1 =
            std::string("\xff\xe1", 2) + char(length >> 8) + char(length & 0xff) + body;
        jpeg.insert(2, app1);
    }
    return ns::Data(jpeg.data(), jpeg.size());
}

class PickerTest : public mediatest::MediaFixture {
protected:
    void SetUp() override {
        MediaFixture::SetUp();
        attach(*plugin_);
        auto& library = av::PhotoLibrary::shared();
        ASSERT_TRUE(library.addPhoto(photo(40, 30), "a.jpg", "Trips").ok());
        for (const char* name : {"1.jpg", "2.jpg", "3.jpg", "4.jpg", "5.jpg"}) {
            ASSERT_TRUE(library.addPhoto(photo(400, 300), name).ok());
        }
        ASSERT_TRUE(library.addPhoto(photo(40, 20, 6), "6.jpg").ok());
    }

    void getPictures(ns::Value options, const std::string& callbackId = "Pick1") {
        plugin_->performAction(
            "getPictures", HYBInvokedUrlCommand({options}, callbackId, "Picker", "getPictures"));
        loop().runUntilIdle();
    }

    // The album list's Camera Roll, opened as the user does.
    std::shared_ptr<MIPAssetTablePicker> openCameraRoll() {
        auto albums = plugin_->picker()->albumPicker();
        EXPECT_EQ(albums->rowText(0), "Camera Roll (6)");
        auto grid = albums->didSelectRow(0);
        loop().runUntilIdle();
        return grid;
    }

    static void tap(MIPAssetTablePicker& grid, size_t index) {
        const size_t columns = size_t(grid.columns());
        auto cell = grid.cellForRow(index / columns);
        const auto frame = cell->thumbnailFrame(index % columns);
        cell->cellTapped({frame.origin.x + 10, frame.origin.y + 10});
    }

    std::shared_ptr<ui::Bitmap> written(const ns::Value& url) {
        const std::string bytes = mediatest::readFile(ns::URL::parse(url.stringValue())->path());
        return ui::ImageCodec::decode(ns::Data(bytes.data(), bytes.size()));
    }

    std::shared_ptr<ZIVPicker> plugin_ = std::make_shared<ZIVPicker>();
};

// The picker comes up below the status bar in the host's window, the bar light over it, and
// its album list and grid fit in the room that is left.
TEST_F(PickerTest, ThePickerLiesBelowTheStatusBar) {
    ns::ScopedSharedInstance<ui::StatusBar> statusBar;
    getPictures(ns::Value::dict({{"maximumImagesCount", 2}}));
    ASSERT_EQ(controller_->presentedViewController(), plugin_->picker());
    EXPECT_TRUE(testsupport::liesBelowTheStatusBar(*plugin_->picker()));
    openCameraRoll();
    EXPECT_TRUE(testsupport::liesBelowTheStatusBar(*plugin_->picker()));
    plugin_->picker()->cancelImagePicker();
    loop().runUntilIdle();
}

TEST_F(PickerTest, PicksScaledPhotosIntoNumberedFilesAfterThoseTaken) {
    std::ofstream(ns::Sandbox::temporaryDirectory() + "hyb_photo_001.jpg") << "earlier";
    getPictures(ns::Value::dict({{"maximumImagesCount", 3}, {"width", 80}, {"quality", 50}}));
    ASSERT_EQ(controller_->presentedViewController(), plugin_->picker());
    auto albums = plugin_->picker()->albumPicker();
    ASSERT_EQ(albums->assetGroups().size(), 2u);
    EXPECT_EQ(albums->rowText(1), "Trips (1)");
    auto grid = openCameraRoll();
    EXPECT_TRUE(grid->hasDoneButton());
    EXPECT_EQ(grid->title(), "Pick Photos");
    EXPECT_EQ(grid->columns(), 4);
    ASSERT_EQ(grid->numberOfRows(), 2u);
    EXPECT_EQ(grid->assetsForIndexPath(1).size(), 2u);
    tap(*grid, 0);
    tap(*grid, 1);
    tap(*grid, 5);  // the sideways photo, on the second row
    grid->doneAction();
    loop().runUntilIdle();

    ASSERT_EQ(delegate_->results.size(), 1u);
    const auto& result = *delegate_->results[0];
    ASSERT_EQ(result.status(), HYBResultStatusOK);
    const auto& urls = *result.message().array();
    ASSERT_EQ(urls.size(), 3u);
    const std::string tmp =
        ns::URL::fileURLWithPath(ns::Sandbox::temporaryDirectory()).absoluteString();
    EXPECT_EQ(urls[0].stringValue(), tmp + "hyb_photo_002.jpg");
    EXPECT_EQ(urls[2].stringValue(), tmp + "hyb_photo_004.jpg");
    auto first = written(urls[0]);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->width(), 80);
    EXPECT_EQ(first->height(), 60);
    // Stored 40 x 20 with orientation 6: upright it stands 20 x 40, scaled to 80 x 160.
    auto turned = written(urls[2]);
    ASSERT_TRUE(turned);
    EXPECT_EQ(turned->width(), 80);
    EXPECT_EQ(turned->height(), 160);
    EXPECT_GT(turned->pixel(40, 20).red, 200);  // the stored left half is now on top
    EXPECT_GT(turned->pixel(40, 140).blue, 200);
    EXPECT_FALSE(controller_->presentedViewController());
}

TEST_F(PickerTest, LimitAlertRefusesPastTheLimit) {
    getPictures(ns::Value::dict({{"maximumImagesCount", 2}}));
    auto grid = openCameraRoll();
    tap(*grid, 0);
    tap(*grid, 1);
    tap(*grid, 2);
    EXPECT_EQ(grid->totalSelectedAssets(), 2u);
    auto alert = std::dynamic_pointer_cast<ui::AlertController>(
        plugin_->picker()->presentedViewController());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), "Maximum 2 photos.");
    EXPECT_EQ(alert->message(), "You can only select 2 photos at a time.");
    ASSERT_TRUE(alert->press("Okay"));
    loop().runUntilIdle();
    tap(*grid, 1);  // deselecting makes room
    tap(*grid, 2);
    EXPECT_TRUE(grid->mipAssets()[2]->selected());

    // A limit of 0 refuses everything; a negative one nothing.
    auto& picker = *plugin_->picker();
    picker.setMaximumImagesCount(0);
    EXPECT_FALSE(picker.shouldSelectAsset(*grid->mipAssets()[0]->asset(), 0));
    picker.setMaximumImagesCount(-1);
    EXPECT_TRUE(picker.shouldSelectAsset(*grid->mipAssets()[0]->asset(), 1000));
}

TEST_F(PickerTest, SingleModeReturnsTheFirstTapAtFullSize) {
    getPictures(ns::Value::dict({{"maximumImagesCount", 1}}));
    auto grid = openCameraRoll();
    EXPECT_FALSE(grid->hasDoneButton());
    EXPECT_EQ(grid->title(), "Pick Photo");
    tap(*grid, 4);
    loop().runUntilIdle();
    ASSERT_EQ(delegate_->results.size(), 1u);
    const auto& urls = *delegate_->results[0]->message().array();
    ASSERT_EQ(urls.size(), 1u);
    auto image = written(urls[0]);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 400);
    EXPECT_EQ(image->height(), 300);
}

TEST_F(PickerTest, CancelAnswersAnEmptyArray) {
    getPictures(ns::Value());
    plugin_->picker()->albumPicker()->cancel();
    loop().runUntilIdle();
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(delegate_->results[0]->status(), HYBResultStatusOK);
    EXPECT_EQ(delegate_->results[0]->message().array()->size(), 0u);
}

// Closing the picker's window (or Escape) is Cancel: the page hears an empty array, once.
TEST_F(PickerTest, ClosingThePickersWindowAnswersLikeCancel) {
    getPictures(ns::Value::dict({{"maximumImagesCount", 2}}));
    auto picker = plugin_->picker();
    ASSERT_TRUE(picker);
    EXPECT_EQ(picker->navigationBar()->title(), "Select an Album");
    ASSERT_TRUE(picker->navigationBar()->rightItem());
    auto grid = openCameraRoll();
    EXPECT_EQ(picker->navigationBar()->title(), "Pick Photos");
    EXPECT_EQ(grid->tableView()->numberOfRows(), 2u);
    EXPECT_TRUE(picker->presentationController().closeByUser());
    loop().runUntilIdle();
    EXPECT_FALSE(controller_->presentedViewController());
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(delegate_->results[0]->message(), ns::Value(ns::Array{}));
}

// The largest step of the first quantization table of a JPEG file: 1 at the highest quality,
// 255 at the lowest; 0 when the file has none.
int coarsestQuantizerStep(const std::string& jpeg) {
    const size_t marker = jpeg.find("\xff\xdb");
    if (marker == std::string::npos || marker + 5 + 64 > jpeg.size()) return 0;
    int coarsest = 0;
    for (size_t i = marker + 5; i < marker + 5 + 64; ++i) {
        coarsest = std::max(coarsest, int(uint8_t(jpeg[i])));
    }
    return coarsest;
}

// A quality the page leaves out counts as 0: the smallest files; 100 is the finest.
TEST_F(PickerTest, MissingQualityGivesTheLowestQuality) {
    for (const auto& [options, step] : std::vector<std::pair<ns::Value, int>>{
             {ns::Value::dict({{"maximumImagesCount", 1}}), 255},
             {ns::Value::dict({{"maximumImagesCount", 1}, {"quality", 100}}), 1}}) {
        delegate_->results.clear();
        getPictures(options);
        tap(*openCameraRoll(), 1);
        loop().runUntilIdle();
        ASSERT_EQ(delegate_->results.size(), 1u);
        const auto& urls = *delegate_->results[0]->message().array();
        ASSERT_EQ(urls.size(), 1u);
        EXPECT_EQ(coarsestQuantizerStep(
                      mediatest::readFile(ns::URL::parse(urls[0].stringValue())->path())),
                  step)
            << options.description();
    }
}

// While the picker is up a second pick is refused and the first goes on to its answer; a
// pick whose picker cannot be shown answers at once.
TEST_F(PickerTest, OnePickAtATimeAndEveryPickAnswers) {
    getPictures(ns::Value::dict({{"maximumImagesCount", 1}}), "First");
    auto picker = plugin_->picker();
    getPictures(ns::Value::dict({{"maximumImagesCount", 3}}), "Second");
    ASSERT_EQ(delegate_->results.size(), 1u);
    EXPECT_EQ(delegate_->callbackIds[0], "Second");
    EXPECT_EQ(delegate_->results[0]->status(), HYBResultStatusError);
    EXPECT_EQ(delegate_->results[0]->message(), ns::Value("A photo pick is already in progress."));
    EXPECT_EQ(plugin_->picker(), picker);
    tap(*openCameraRoll(), 0);
    loop().runUntilIdle();
    ASSERT_EQ(delegate_->results.size(), 2u);
    EXPECT_EQ(delegate_->callbackIds[1], "First");
    EXPECT_EQ(delegate_->results[1]->message().array()->size(), 1u);

    controller_->presentViewController(ui::ViewController::create(), false);
    loop().runUntilIdle();
    getPictures(ns::Value::dict({{"maximumImagesCount", 1}}), "Hidden");
    ASSERT_EQ(delegate_->results.size(), 3u);
    EXPECT_EQ(delegate_->results[2]->message(), ns::Value("unable to present the photo picker"));
    EXPECT_FALSE(plugin_->picker());
}

// The grid's columns follow its width whenever the size changes: a rotation of the screen,
// or the picker's own window resized on a desktop. A column is 80 points wide.
TEST_F(PickerTest, ColumnsFollowTheViewsWidth) {
    getPictures(ns::Value::dict({{"maximumImagesCount", 3}}));
    auto grid = openCameraRoll();
    EXPECT_EQ(grid->columns(), 4);
    EXPECT_EQ(grid->numberOfRows(), 2u);
    window_->transitionToSize({844, 390});
    loop().runUntilIdle();
    EXPECT_EQ(grid->columns(), 10);
    window_->transitionToSize({390, 844});
    loop().runUntilIdle();
    EXPECT_EQ(grid->columns(), 4);
    for (const auto& [width, columns, rows] : std::vector<std::tuple<double, int, size_t>>{
             {414, 5, 2}, {768, 9, 1}, {320, 4, 2}, {250, 3, 2}}) {
        plugin_->picker()->transitionViewToSize({width, 600});
        EXPECT_EQ(grid->view()->frame().width(), width);
        loop().runUntilIdle();
        EXPECT_EQ(grid->columns(), columns) << width;
        EXPECT_EQ(grid->tableView()->numberOfRows(), rows) << width;
        EXPECT_EQ(grid->cellForRow(0)->frame().width(), width);
    }
    EXPECT_TRUE(
        grid->shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation::PortraitUpsideDown));
    const auto upsideDown = ui::InterfaceOrientation::PortraitUpsideDown;
    EXPECT_FALSE(plugin_->picker()->shouldAutorotateToInterfaceOrientation(upsideDown));
    EXPECT_TRUE(plugin_->picker()->shouldAutorotateToInterfaceOrientation(
        ui::InterfaceOrientation::LandscapeLeft));
    ui::Device::current().setUserInterfaceIdiom(ui::Device::Idiom::Pad);
    EXPECT_TRUE(plugin_->picker()->shouldAutorotateToInterfaceOrientation(upsideDown));
    ui::Device::current().setUserInterfaceIdiom(ui::Device::Idiom::Phone);
}

TEST(PhotoPipeline, DecodesAtTheSmallestDctScaleThatCoversTheBox) {
    auto small = ZIVPhotoPipeline::decodeUpright(photo(800, 600), {100, 0});
    ASSERT_TRUE(small.ok());
    EXPECT_EQ(small.value()->width(), 100);
    auto half = ZIVPhotoPipeline::decodeUpright(photo(800, 600), {300, 300});
    ASSERT_TRUE(half.ok());
    EXPECT_EQ(half.value()->width(), 300);  // 3/8: 300 x 225 is the fitted size itself
    EXPECT_FALSE(ZIVPhotoPipeline::decodeUpright(ns::Data("junk", 4), {}).ok());
}

TEST(PhotoPipeline, FittedSizesFollowTheBoxAndStayBounded) {
    const ui::Size photo{4000, 3000};
    EXPECT_EQ(ZIVPhotoPipeline::fittedSize(photo, {800, 0}), (ui::Size{800, 600}));
    EXPECT_EQ(ZIVPhotoPipeline::fittedSize(photo, {800, 800}), (ui::Size{800, 600}));
    EXPECT_EQ(ZIVPhotoPipeline::fittedSize(photo, {6000, 6000}), (ui::Size{6000, 4500}));
    EXPECT_EQ(ZIVPhotoPipeline::fittedSize(photo, {-5, -5}), photo);
    const ui::Size huge = ZIVPhotoPipeline::fittedSize(photo, {1e12, 0});
    EXPECT_LE(huge.width * huge.height, double(ZIVPhotoPipeline::kMaxOutputPixels));
}

TEST(PhotoPipeline, NumberedNamesAreClaimedOnce) {
    testsupport::TempDir dir;
    auto a = ZIVPhotoPipeline::writeNumbered(dir.str(), "hyb_photo_", "jpg", ns::Data("a", 1));
    auto b =
        ZIVPhotoPipeline::writeNumbered(dir.str() + "/", "hyb_photo_", "jpg", ns::Data("b", 1));
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_EQ(a.value(), dir.str() + "/hyb_photo_001.jpg");
    EXPECT_EQ(b.value(), dir.str() + "/hyb_photo_002.jpg");
    std::ifstream in(a.value());
    std::string text;
    in >> text;
    EXPECT_EQ(text, "a");
    EXPECT_FALSE(
        ZIVPhotoPipeline::writeNumbered(dir.str() + "/missing", "x", "jpg", ns::Data("c", 1)).ok());
}

}  // namespace
