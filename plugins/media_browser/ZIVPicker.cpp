#include "plugins/media_browser/ZIVPicker.h"

#include <algorithm>
#include <cmath>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBViewController.h"
#include "platform/ns/Log.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/URL.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/ImageCodec.h"
#include "plugins/media_browser/MIPAlbumPickerController.h"
#include "plugins/media_browser/MIPImagePickerController.h"
#include "plugins/media_browser/ZIVPhotoPipeline.h"

namespace {

int64_t integerOption(const ns::Value& options, const char* key) {
    const ns::Value* value = options.find(key);
    if (!value) return 0;
    const auto number = value->number();
    if (!number || !std::isfinite(*number)) return 0;
    return static_cast<int64_t>(std::clamp(std::trunc(*number), -1e15, 1e15));
}

}  // namespace

ZIVPicker::ZIVPicker() {
    registerAction("getPictures", &ZIVPicker::getPictures);
}

void ZIVPicker::getPictures(const HYBInvokedUrlCommand& command) {
    // One picker at a time: a second one would take the first call's answer away.
    if (picker_) return refuse(command.callbackId(), kPickUnderWayText);
    const ns::Value options = command.argumentAtIndex(0);
    const int64_t maximum = integerOption(options, "maximumImagesCount");
    width_ = std::max<int64_t>(integerOption(options, "width"), 0);
    height_ = std::max<int64_t>(integerOption(options, "height"), 0);
    quality_ = std::clamp<int64_t>(integerOption(options, "quality"), 0, 100);

    auto albums = std::make_shared<MIPAlbumPickerController>();
    albums->setImmediateReturn(maximum == 1);
    albums->setSingleSelection(maximum == 1);
    picker_ = MIPImagePickerController::initImagePicker(albums);
    picker_->setMaximumImagesCount(maximum);
    picker_->setReturnsOriginalImage(true);
    picker_->setImagePickerDelegate(
        std::weak_ptr<MIPImagePickerControllerDelegate>(sharedSelf<ZIVPicker>()));
    callbackId_ = command.callbackId();
    if (auto controller = viewController()) controller->presentViewController(picker_, true);
    // A controller that shows another screen, or none, refuses: the page must not wait.
    if (!picker_->presentingViewController()) {
        picker_.reset();
        return refuse(command.callbackId(), kCannotPresentText);
    }
    albums->loadViewIfNeeded();
}

void ZIVPicker::refuse(const std::optional<std::string>& callbackId, const char* text) {
    sendToPage(HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusError, text),
               callbackId);
}

std::shared_ptr<ui::Bitmap> ZIVPicker::imageByScalingNotCroppingForSize(
    const std::shared_ptr<ui::Bitmap>& image, ui::Size size) {
    const ui::Size out =
        ZIVPhotoPipeline::fittedSize({double(image->width()), double(image->height())}, size);
    if (out.width == image->width() && out.height == image->height()) return image;
    auto context = ui::GraphicsContext::beginImageContext(out, false, 1.0);
    if (!context) {
        ns::nslog("could not scale image");
        return nullptr;
    }
    context->drawBitmap(*image, {{0, 0}, out});
    return context->bitmap();
}

ns::Result<std::string> ZIVPicker::writePhoto(const av::PhotoAsset& asset) {
    auto bytes = asset.getBytes(0, asset.size());
    if (!bytes.ok()) return bytes.error();
    const ui::Size box{double(width_), double(height_)};
    auto decoded = ZIVPhotoPipeline::decodeUpright(bytes.value(), box);
    if (!decoded.ok()) return decoded.error();
    std::shared_ptr<ui::Bitmap> image = decoded.value();
    if (width_ != 0 || height_ != 0) image = imageByScalingNotCroppingForSize(image, box);
    if (!image) return ns::Error("ZIVPickerErrorDomain", 1);
    auto jpeg = ui::ImageCodec::encodeJPEG(*image, double(quality_) / 100.0);
    if (!jpeg) return ns::Error("ZIVPickerErrorDomain", 1);
    std::string tmp = ns::Sandbox::temporaryDirectory();
    return ZIVPhotoPipeline::writeNumbered(tmp, kFilePrefix, "jpg", *jpeg);
}

void ZIVPicker::didFinishPickingMediaWithInfo(
    MIPImagePickerController&, const std::vector<ns::Dictionary>&,
    const std::vector<std::shared_ptr<av::PhotoAsset>>& assets) {
    ns::Array urls;
    std::shared_ptr<HYBPluginResult> failure;
    for (const auto& asset : assets) {
        auto written = writePhoto(*asset);
        if (!written.ok()) {
            const std::string text = written.error().localizedDescription();
            failure = written.error().userInfo().empty()
                          ? HYBPluginResult::resultWithStatus(HYBResultStatusIOError)
                          : HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusIOError,
                                                                             text);
            break;
        }
        urls.push_back(ns::URL::fileURLWithPath(written.value()).absoluteString());
    }
    finish(failure ? failure
                   : HYBPluginResult::resultWithStatusMessageAsArray(HYBResultStatusOK,
                                                                     std::move(urls)));
}

void ZIVPicker::didCancel(MIPImagePickerController&) {
    finish(HYBPluginResult::resultWithStatusMessageAsArray(HYBResultStatusOK, {}));
}

void ZIVPicker::finish(std::shared_ptr<HYBPluginResult> result) {
    if (auto controller = viewController()) controller->dismissViewController(true);
    picker_.reset();
    sendToPage(result, callbackId_);
}
