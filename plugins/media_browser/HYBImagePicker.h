#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Accessibility.h"
#include "platform/ui/AdaptivePresentationControllerDelegate.h"
#include "platform/ui/Bitmap.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/ViewController.h"

class HYBImagePicker;

inline constexpr const char* kUTTypeImage = "public.image";
inline constexpr const char* kUTTypeMovie = "public.movie";

// What the camera screen hands back: the media type and the picture or the clip's path.
struct HYBImagePickerInfo {
    std::optional<std::string> mediaType;
    std::shared_ptr<ui::Bitmap> originalImage;
    std::optional<std::string> mediaPath;
};

class HYBImagePickerDelegate {
public:
    virtual ~HYBImagePickerDelegate() = default;
    virtual void imagePickerDidFinishPickingMedia(HYBImagePicker& picker,
                                                  const HYBImagePickerInfo& info) = 0;
    virtual void imagePickerDidCancel(HYBImagePicker& picker) = 0;
};

// The camera screen: what the camera sees, a shutter (a photo, or in movie mode the clip) and
// Cancel. The user takes a photo or records a clip with the attached camera, or cancels
// (Cancel, or closing the screen's window). A recorded clip is written into the temporary
// folder.
class HYBImagePicker : public ui::ViewController,
                       public ui::AdaptivePresentationControllerDelegate {
public:
    HYBImagePicker();
    void loadView() override;
    // Asks for the status bar to be read again on the next turn (the picker hides it).
    void viewWillAppear(bool animated) override;
    void presentationControllerDidDismiss(ui::PresentationController&) override { cancel(); }

    void setDelegate(std::weak_ptr<HYBImagePickerDelegate> d) { delegate_ = std::move(d); }
    const std::optional<std::string>& callbackId() const { return callbackId_; }
    void setCallbackId(std::optional<std::string> id) { callbackId_ = std::move(id); }
    const std::optional<std::string>& mimeType() const { return mimeType_; }
    void setMimeType(std::optional<std::string> type) { mimeType_ = std::move(type); }
    const std::vector<std::string>& mediaTypes() const { return mediaTypes_; }
    void setMediaTypes(std::vector<std::string> types) { mediaTypes_ = std::move(types); }
    std::optional<double> videoMaximumDuration() const { return maximumDuration_; }
    void setVideoMaximumDuration(double seconds) { maximumDuration_ = seconds; }
    bool prefersStatusBarHidden() const override { return true; }
    std::shared_ptr<ui::ViewController> childViewControllerForStatusBarHidden() const override {
        return nullptr;
    }
    // A media session starts from the picker, on systems that know the trait.
    ui::AccessibilityTraits accessibilityTraits() const;
    // Kept for callers that set it; the capture plug-in does not use it.
    int64_t quality() const { return quality_; }
    void setQuality(int64_t quality) { quality_ = quality; }

    // The shutter: a photo, or in movie mode the clip.
    void takePicture();
    void cancel();

    const std::shared_ptr<ui::Button>& cancelButton() const { return cancel_; }
    const std::shared_ptr<ui::ImageView>& preview() const { return preview_; }

private:
    std::weak_ptr<HYBImagePickerDelegate> delegate_;
    std::optional<std::string> callbackId_;
    std::optional<std::string> mimeType_;
    std::vector<std::string> mediaTypes_{kUTTypeImage};
    std::optional<double> maximumDuration_;
    int64_t quality_ = 0;
    std::shared_ptr<ui::ImageView> preview_;
    std::shared_ptr<ui::Button> shutter_;
    std::shared_ptr<ui::Button> cancel_;
};
