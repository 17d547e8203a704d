#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "bridge/HYBPlugin.h"
#include "platform/ns/Data.h"
#include "platform/ui/Bitmap.h"
#include "platform/ui/Geometry.h"
#include "plugins/media_browser/MIPAssetDelegates.h"

class MIPImagePickerController;

// The page's photo picker: the user picks photos from the library on the picker screens, and
// the page gets them back as JPEG files in the temporary folder, fitted into a box when asked.
class ZIVPicker : public HYBPlugin, public MIPImagePickerControllerDelegate {
public:
    static constexpr const char* kClassName = "ZIVPicker";
    static constexpr const char* kFilePrefix = "hyb_photo_";
    // A second pick while the picker is up is refused with this text, and a pick whose picker
    // cannot be shown with the other; the call under way goes on.
    static constexpr const char* kPickUnderWayText = "A photo pick is already in progress.";
    static constexpr const char* kCannotPresentText = "unable to present the photo picker";

    ZIVPicker();

    void getPictures(const HYBInvokedUrlCommand& command);

    void didFinishPickingMediaWithInfo(
        MIPImagePickerController& picker, const std::vector<ns::Dictionary>& info,
        const std::vector<std::shared_ptr<av::PhotoAsset>>& assets) override;
    void didCancel(MIPImagePickerController& picker) override;

    // The image fitted into `size` (pixels; a side of 0 is free) without cropping; null when
    // no bitmap of that size can be made.
    static std::shared_ptr<ui::Bitmap> imageByScalingNotCroppingForSize(
        const std::shared_ptr<ui::Bitmap>& image, ui::Size size);

    const std::optional<std::string>& callbackId() const { return callbackId_; }
    int64_t width() const { return width_; }
    int64_t height() const { return height_; }
    int64_t quality() const { return quality_; }
    std::shared_ptr<MIPImagePickerController> picker() const { return picker_; }

private:
    // One photo to a numbered JPEG file: its path, or the error's description (empty when
    // the photo could not be scaled).
    ns::Result<std::string> writePhoto(const av::PhotoAsset& asset);
    void finish(std::shared_ptr<class HYBPluginResult> result);
    void refuse(const std::optional<std::string>& callbackId, const char* text);

    std::optional<std::string> callbackId_;
    int64_t width_ = 0;
    int64_t height_ = 0;
    int64_t quality_ = 0;
    std::shared_ptr<MIPImagePickerController> picker_;
};
