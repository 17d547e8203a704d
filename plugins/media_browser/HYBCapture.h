#pragma once

#include <memory>
#include <optional>
#include <string>

#include "bridge/HYBPlugin.h"
#include "bridge/HYBPluginResult.h"
#include "platform/ns/Value.h"
#include "platform/ui/Bitmap.h"
#include "plugins/media_browser/HYBImagePicker.h"

class HYBFile;

namespace av {
class Camera;
}  // namespace av

// Capture error codes, sent to the page as {"code": n}.
enum HYBCaptureError : int32_t {
    HYBCaptureErrorInternal = 0,
    HYBCaptureErrorApplicationBusy = 1,
    HYBCaptureErrorInvalidArgument = 2,
    HYBCaptureErrorNoMediaFiles = 3,
    HYBCaptureErrorNotSupported = 20,
};

// The page's media capture: audio clips on the recorder screen, media-file descriptions and
// format data of files, and the modes the device supports.
class HYBCapture : public HYBPlugin, public HYBImagePickerDelegate {
public:
    static constexpr const char* kClassName = "HYBCapture";

    HYBCapture();
    void pluginInitialize() override { inUse_ = false; }

    void captureAudio(const HYBInvokedUrlCommand& command);
    void captureImage(const HYBInvokedUrlCommand& command);
    void captureVideo(const HYBInvokedUrlCommand& command);
    void getMediaModes(const HYBInvokedUrlCommand& command);
    void getFormatData(const HYBInvokedUrlCommand& command);

    // "name", "fullPath", "localURL", "type", "lastModifiedDate" and "size" of a file.
    ns::Dictionary getMediaDictionaryFromPath(const std::string& path,
                                              const std::optional<std::string>& type);

    std::shared_ptr<HYBPluginResult> processImage(const ui::Bitmap& image,
                                                  const std::optional<std::string>& type);
    std::shared_ptr<HYBPluginResult> processVideo(const std::string& path);

    void imagePickerDidFinishPickingMedia(HYBImagePicker& picker,
                                          const HYBImagePickerInfo& info) override;
    void imagePickerDidCancel(HYBImagePicker& picker) override;
    // The older road of a picked image: the same as a finished pick with the editing info.
    void imagePickerDidFinishPickingImage(HYBImagePicker& picker,
                                          const HYBImagePickerInfo& editingInfo) {
        imagePickerDidFinishPickingMedia(picker, editingInfo);
    }
    std::shared_ptr<HYBImagePicker> pickerController() const { return pickerController_; }

    bool inUse() const { return inUse_; }
    void setInUse(bool inUse) { inUse_ = inUse; }

private:
    void sendError(const std::optional<std::string>& callbackId, HYBCaptureError code,
                   unsigned status = HYBResultStatusError);

    void dismissPicker(HYBImagePicker& picker);
    // Presents the screen from the plug-in's controller; false when it is not shown.
    bool present(const std::shared_ptr<ui::ViewController>& screen);
    // Shows the camera screen, or answers the call when it cannot be shown.
    void presentPicker(const std::optional<std::string>& callbackId);
    // The file plug-in (the service "File"), or null.
    std::shared_ptr<HYBFile> filePlugin();
    // The MIME type of the clips the camera records.
    std::string clipType(const av::Camera& camera);

    bool inUse_ = false;
    std::shared_ptr<HYBImagePicker> pickerController_;
};
