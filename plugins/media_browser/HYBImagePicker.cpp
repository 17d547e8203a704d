#include "plugins/media_browser/HYBImagePicker.h"

#include <algorithm>
#include <filesystem>

#include "platform/av/Camera.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/Sandbox.h"
#include "platform/ui/PresentationController.h"
#include "platform/ui/Screen.h"
#include "plugins/media_browser/ZIVPhotoPipeline.h"
#include "toolbox/Foundation/NSDK_TBXSystemVersion.h"

namespace {

constexpr double kControlsHeight = 96;
constexpr double kShutterSide = 72;

bool isMovie(const std::vector<std::string>& types) {
    return std::find(types.begin(), types.end(), kUTTypeMovie) != types.end();
}

}  // namespace

HYBImagePicker::HYBImagePicker() {
    setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
}

void HYBImagePicker::loadView() {
    const ui::Rect screen = ui::Screen::main().bounds();
    auto root = ui::View::create(screen);
    root->setBackgroundColor(ui::Color(0, 0, 0, 1));
    preview_ = ui::ImageView::create();
    preview_->setFrame({{0, 0}, {screen.width(), screen.height() - kControlsHeight}});
    preview_->setContentMode(ui::ContentMode::ScaleAspectFit);
    preview_->setAutoresizingMask(ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleHeight);
    root->addSubview(preview_);

    auto controls = ui::View::create(
        {{0, screen.height() - kControlsHeight}, {screen.width(), kControlsHeight}});
    controls->setBackgroundColor(ui::Color(0.08, 0.08, 0.08, 1));
    controls->setAutoresizingMask(ui::kAutoresizingFlexibleWidth |
                                  ui::kAutoresizingFlexibleTopMargin);
    std::weak_ptr<HYBImagePicker> weak = sharedSelf<HYBImagePicker>();
    const double shutterWidth = kShutterSide * 1.6;
    shutter_ = ui::Button::create(
        {{(screen.width() - shutterWidth) / 2, (kControlsHeight - kShutterSide) / 2},
         {shutterWidth, kShutterSide}});
    shutter_->addAction([weak] {
        if (auto self = weak.lock()) self->takePicture();
    });
    cancel_ = ui::Button::create({{12, (kControlsHeight - 44) / 2}, {90, 44}});
    cancel_->setTitle("Cancel", ui::Button::kControlStateNormal);
    cancel_->setTintColor(ui::Color(1, 1, 1, 1));
    cancel_->addAction([weak] {
        if (auto self = weak.lock()) self->cancel();
    });
    controls->addSubview(shutter_);
    controls->addSubview(cancel_);
    root->addSubview(controls);
    setView(root);
    presentationController().setDelegate(
        std::weak_ptr<ui::AdaptivePresentationControllerDelegate>(sharedSelf<HYBImagePicker>()));
}

ui::AccessibilityTraits HYBImagePicker::accessibilityTraits() const {
    const bool knowsTrait = NSDK_TBXSystemVersion::isSystemVersionAtLeast("4.0");
    return knowsTrait ? ui::kAccessibilityTraitStartsMediaSession : ui::kAccessibilityTraitNone;
}

void HYBImagePicker::viewWillAppear(bool) {
    std::weak_ptr<HYBImagePicker> weak = sharedSelf<HYBImagePicker>();
    dispatch::RunLoop::main().post([weak] {
        if (auto self = weak.lock()) self->setNeedsStatusBarAppearanceUpdate();
    });
    // The picker is shown again for the next photo: its mode may have changed since.
    shutter_->setTitle(isMovie(mediaTypes_) ? "Record" : "Take Photo",
                       ui::Button::kControlStateNormal);
    auto camera = av::Camera::shared();
    // A clip is previewed by its own first picture, which a camera that also watches a folder
    // for pictures need not be showing.
    auto picture = !camera                ? ns::Result<std::shared_ptr<ui::Bitmap>>(ns::Error())
                   : isMovie(mediaTypes_) ? camera->clipPreview()
                                          : camera->takePicture();
    preview_->setImage(picture.ok() ? ui::Image::imageWithBitmap(picture.value()) : nullptr);
}

void HYBImagePicker::takePicture() {
    auto delegate = delegate_.lock();
    auto camera = av::Camera::shared();
    if (!delegate) return;
    HYBImagePickerInfo info;
    if (isMovie(mediaTypes_)) {
        info.mediaType = kUTTypeMovie;
        auto bytes = camera ? ns::readFile(camera->videoPath()) : ns::Result<ns::Data>(ns::Error());
        if (bytes.ok()) {
            const std::string ext = std::filesystem::path(camera->videoPath()).extension().string();
            auto path =
                ZIVPhotoPipeline::writeNumbered(ns::Sandbox::temporaryDirectory(), "capture_",
                                                ext.empty() ? "mov" : ext.substr(1), bytes.value());
            if (path.ok()) info.mediaPath = path.value();
        }
    } else {
        info.mediaType = kUTTypeImage;
        if (camera) {
            auto picture = camera->takePicture();
            if (picture.ok()) info.originalImage = picture.value();
        }
    }
    delegate->imagePickerDidFinishPickingMedia(*this, info);
}

void HYBImagePicker::cancel() {
    if (auto delegate = delegate_.lock()) delegate->imagePickerDidCancel(*this);
}
