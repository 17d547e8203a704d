#include "plugins/media_browser/HYBCapture.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBViewController.h"
#include "platform/av/AssetImageGenerator.h"
#include "platform/av/AudioRecorder.h"
#include "platform/av/Camera.h"
#include "platform/av/PhotoLibrary.h"
#include "platform/ns/ConfinedFile.h"
#include "platform/ns/FileHandle.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/Format.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Log.h"
#include "platform/ns/Sandbox.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageCodec.h"
#include "platform/ui/PresentationController.h"
#include "plugins/device_storage/HYBFile.h"
#include "plugins/media_browser/HYBAudioNavigationController.h"
#include "plugins/media_browser/HYBAudioRecorderViewController.h"
#include "plugins/media_browser/ZIVPhotoPipeline.h"

namespace {

// The most of a file's start that format data reads: enough for any image header (an EXIF
// block is at most 64 KiB) or WAV header, whatever the file's size.
constexpr uint64_t kHeaderCap = 256 * 1024;

// A regular file the application may read and its start. It is opened in the same step that
// confines it, as the file plug-in's roots are (links followed only within them), and what is
// read of it later is read from that very file. Nothing for anything else, which then reads as
// no file at all.
struct ReadableFile {
    std::unique_ptr<ns::FileHandle> handle;
    ns::Data head;

    // The same open file, for a reader of its own.
    ns::FileDescriptor duplicate() const {
        return ns::FileDescriptor(::fcntl(handle->fileDescriptor(), F_DUPFD_CLOEXEC, 0));
    }
};

std::optional<ReadableFile> openWithHeader(const std::string& path) {
    if (path.empty() || path.front() != '/') return std::nullopt;
    auto file = ns::ConfinedFile::openForReading(path);
    if (!file.ok()) return std::nullopt;
    auto handle = ns::FileHandle::fileHandleWithFileDescriptor(std::move(file.value()), path);
    auto attributes = handle->attributes();
    if (!attributes.ok() || attributes.value().type != ns::FileType::Regular) return std::nullopt;
    auto head = handle->readDataOfLength(kHeaderCap);
    if (!head.ok()) return std::nullopt;
    return ReadableFile{std::move(handle), std::move(head.value())};
}

// Duration and bit rate from a WAV file's header; false when the file is no WAV file this
// reader knows.
bool readWAVFormat(const ns::Data& head, ns::Dictionary& format) {
    if (head.length() < 44) return false;
    const auto* h = reinterpret_cast<const char*>(head.bytes());
    auto le32 = [&](int at) {
        return uint32_t(uint8_t(h[at])) | uint32_t(uint8_t(h[at + 1])) << 8 |
               uint32_t(uint8_t(h[at + 2])) << 16 | uint32_t(uint8_t(h[at + 3])) << 24;
    };
    if (std::string_view(h, 4) != "RIFF" || std::string_view(h + 8, 8) != "WAVEfmt " ||
        std::string_view(h + 36, 4) != "data") {
        return false;
    }
    const uint32_t byteRate = le32(28);
    if (byteRate == 0) return false;
    format.insert_or_assign("duration", double(le32(40)) / byteRate);
    format.insert_or_assign("bitrate", int64_t(byteRate) * 8);
    return true;
}

// Duration and the encoder's bit rate of any other sound file, from the media libraries.
void readSoundFormat(const ReadableFile& file, ns::Dictionary& format) {
    auto info = av::AssetImageGenerator::loadTrackInfo(file.duplicate());
    if (!info.ok()) return;
    format.insert_or_assign("duration", info.value().duration);
    if (info.value().audioBitRate) format.insert_or_assign("bitrate", *info.value().audioBitRate);
}

}  // namespace

HYBCapture::HYBCapture() {
    registerAction("captureAudio", &HYBCapture::captureAudio);
    registerAction("captureImage", &HYBCapture::captureImage);
    registerAction("captureVideo", &HYBCapture::captureVideo);
    registerAction("getMediaModes", &HYBCapture::getMediaModes);
    registerAction("getFormatData", &HYBCapture::getFormatData);
}

void HYBCapture::sendError(const std::optional<std::string>& callbackId, HYBCaptureError code,
                           unsigned status) {
    sendToPage(HYBPluginResult::resultWithStatusMessageToErrorObject(status, code), callbackId);
}

void HYBCapture::captureAudio(const HYBInvokedUrlCommand& command) {
    const ns::Value options = command.argumentAtIndex(0);
    std::optional<double> duration;
    if (const ns::Value* d = options.find("duration")) {
        const auto seconds = d->number();
        if (seconds && *seconds != 0 && std::isfinite(*seconds)) duration = *seconds;
    }
    // Nothing can be recorded on a host without any sound input.
    if (!av::AudioRecorder::isAvailable()) {
        return sendError(command.callbackId(), HYBCaptureErrorNotSupported);
    }
    if (inUse_) return sendError(command.callbackId(), HYBCaptureErrorApplicationBusy);
    auto self = std::static_pointer_cast<HYBCapture>(shared_from_this());
    auto screen =
        std::make_shared<HYBAudioRecorderViewController>(self, duration, command.callbackId());
    auto navigation = std::make_shared<HYBAudioNavigationController>();
    navigation->setViewControllers({screen});
    // Closing the screen's window is Done.
    navigation->presentationController().setDelegate(
        std::weak_ptr<ui::AdaptivePresentationControllerDelegate>(screen));
    inUse_ = true;
    if (!present(navigation)) {
        inUse_ = false;
        return sendError(command.callbackId(), HYBCaptureErrorInternal);
    }
    screen->loadViewIfNeeded();
}

bool HYBCapture::present(const std::shared_ptr<ui::ViewController>& screen) {
    if (auto controller = viewController()) controller->presentViewController(screen, true);
    // A controller that shows another screen, or none, refuses: the page must not wait.
    return screen->presentingViewController() != nullptr;
}

void HYBCapture::captureImage(const HYBInvokedUrlCommand& command) {
    if (!av::Camera::shared()) {
        ns::nslog("Capture.imageCapture: camera not available.");
        return sendError(command.callbackId(), HYBCaptureErrorNotSupported);
    }
    if (!pickerController_) pickerController_ = std::make_shared<HYBImagePicker>();
    pickerController_->setDelegate(std::weak_ptr<HYBImagePickerDelegate>(
        std::static_pointer_cast<HYBCapture>(shared_from_this())));
    pickerController_->setMediaTypes({kUTTypeImage});
    pickerController_->setCallbackId(command.callbackId());
    presentPicker(command.callbackId());
}

void HYBCapture::presentPicker(const std::optional<std::string>& callbackId) {
    if (present(pickerController_)) return;
    pickerController_.reset();
    sendError(callbackId, HYBCaptureErrorInternal);
}

void HYBCapture::captureVideo(const HYBInvokedUrlCommand& command) {
    const ns::Value options = command.argumentAtIndex(0);
    const ns::Value* duration = options.find("duration");
    auto camera = av::Camera::shared();
    if (!camera || !camera->hasVideo()) {
        ns::nslog("Capture.captureVideo: video mode not available.");
        pickerController_.reset();
        return sendError(command.callbackId(), HYBCaptureErrorNotSupported);
    }
    pickerController_ = std::make_shared<HYBImagePicker>();
    pickerController_->setDelegate(std::weak_ptr<HYBImagePickerDelegate>(
        std::static_pointer_cast<HYBCapture>(shared_from_this())));
    pickerController_->setMediaTypes({kUTTypeMovie});
    if (duration && duration->number())
        pickerController_->setVideoMaximumDuration(*duration->number());
    pickerController_->setCallbackId(command.callbackId());
    presentPicker(command.callbackId());
}

void HYBCapture::dismissPicker(HYBImagePicker& picker) {
    if (auto presenter = picker.presentingViewController()) presenter->dismissViewController(true);
}

void HYBCapture::imagePickerDidFinishPickingMedia(HYBImagePicker& picker,
                                                  const HYBImagePickerInfo& info) {
    const auto callbackId = picker.callbackId();
    auto held = pickerController_;  // kept alive to the end of this call
    dismissPicker(picker);
    std::shared_ptr<HYBPluginResult> result;
    if (!info.mediaType || *info.mediaType == kUTTypeImage) {
        if (info.originalImage) result = processImage(*info.originalImage, picker.mimeType());
    } else if (*info.mediaType == kUTTypeMovie && info.mediaPath) {
        result = processVideo(*info.mediaPath);
    }
    if (!result) {
        result = HYBPluginResult::resultWithStatusMessageToErrorObject(HYBResultStatusError,
                                                                       HYBCaptureErrorInternal);
    }
    sendToPage(result, callbackId);
    pickerController_.reset();
}

void HYBCapture::imagePickerDidCancel(HYBImagePicker& picker) {
    const auto callbackId = picker.callbackId();
    auto held = pickerController_;
    dismissPicker(picker);
    sendError(callbackId, HYBCaptureErrorNoMediaFiles);
    pickerController_.reset();
}

std::shared_ptr<HYBPluginResult> HYBCapture::processImage(const ui::Bitmap& image,
                                                          const std::optional<std::string>& type) {
    const bool png = type && *type == "image/png";
    auto data = png ? ui::ImageCodec::encodePNG(image) : ui::ImageCodec::encodeJPEG(image, 0.5);
    if (data) {
        // Also kept in the photo library, as the camera does; the page's file comes first.
        const auto kept = png ? data : ui::ImageCodec::encodeJPEG(image, 0.9);
        auto added = kept ? av::PhotoLibrary::shared().addPhoto(*kept, png ? "IMG.png" : "IMG.jpg")
                          : ns::Result<std::shared_ptr<av::PhotoAsset>>(ns::Error());
        if (!added.ok()) {
            ns::nslog("The photo could not be kept in the photo library: %@",
                      added.error().localizedDescription());
        }
    }
    auto written = data ? ZIVPhotoPipeline::writeNumbered(ns::Sandbox::temporaryDirectory(),
                                                          "photo_", "jpg", *data)
                        : ns::Result<std::string>(ns::Error());
    if (!written.ok()) {
        if (data) ns::nslog("Error saving image: %@", written.error().localizedDescription());
        return HYBPluginResult::resultWithStatusMessageToErrorObject(HYBResultStatusIOError,
                                                                     HYBCaptureErrorInternal);
    }
    return HYBPluginResult::resultWithStatusMessageAsArray(
        HYBResultStatusOK, {getMediaDictionaryFromPath(written.value(), type)});
}

std::shared_ptr<HYBPluginResult> HYBCapture::processVideo(const std::string& path) {
    return HYBPluginResult::resultWithStatusMessageAsArray(
        HYBResultStatusOK, {getMediaDictionaryFromPath(path, std::nullopt)});
}

std::shared_ptr<HYBFile> HYBCapture::filePlugin() {
    auto delegate = commandDelegate();
    return std::dynamic_pointer_cast<HYBFile>(delegate ? delegate->getCommandInstance("File")
                                                       : nullptr);
}

std::string HYBCapture::clipType(const av::Camera& camera) {
    auto file = filePlugin();
    auto type = file ? file->getMimeTypeFromPath(camera.videoPath()) : std::nullopt;
    return type && type->starts_with("video/") ? *type : "video/quicktime";
}

void HYBCapture::getMediaModes(const HYBInvokedUrlCommand&) {
    auto camera = av::Camera::shared();
    auto mode = [](const std::string& type) {
        return ns::Value::dict({{"height", 0}, {"width", 0}, {"type", type}});
    };
    // What this host captures: photos from any camera, clips in the container of the clip the
    // camera records, and sound as the recorder writes it.
    ns::Dictionary modes;
    modes.emplace("image", camera ? ns::Value::array({mode("image/jpeg"), mode("image/png")})
                                  : ns::Value::null());
    modes.emplace("video", camera && camera->hasVideo()
                               ? ns::Value::array({mode(clipType(*camera))})
                               : ns::Value::null());
    modes.emplace("audio", av::AudioRecorder::isAvailable() ? ns::Value::array({mode("audio/wav")})
                                                            : ns::Value::null());
    auto json = ns::JSONSerialization::write(ns::Value(std::move(modes)));
    if (auto delegate = commandDelegate()) {
        delegate->evalJs(
            ns::format("navigator.device.capture.setSupportedModes(%@);", json.valueOr("{}")));
    }
}

void HYBCapture::getFormatData(const HYBInvokedUrlCommand& command) {
    const std::string path = command.argumentAtIndex(0).stringValue();
    std::optional<std::string> type;
    if (command.arguments().size() >= 2 && command.argumentAtIndex(1).isString()) {
        type = *command.argumentAtIndex(1).string();
    }
    if (!type) {
        auto file = filePlugin();
        if (!file) return sendError(command.callbackId(), HYBCaptureErrorInternal);
        type = file->getMimeTypeFromPath(path);
        if (!type) return sendError(command.callbackId(), HYBCaptureErrorInvalidArgument);
    }
    ns::Dictionary format;
    format.emplace("codecs", ns::Value::null());
    format.emplace("bitrate", 0);
    format.emplace("height", 0);
    format.emplace("width", 0);
    format.emplace("duration", 0);
    // Only the header is read, whatever the file's size; a file the application may not read
    // keeps the defaults, as a missing one does.
    const auto file = openWithHeader(path);
    if (!file) {
        // Nothing to read.
    } else if (type->find("image/") != std::string::npos) {
        if (auto size = ui::ImageCodec::sizeFromHeader(file->head)) {
            format.insert_or_assign("width", int64_t(size->width));
            format.insert_or_assign("height", int64_t(size->height));
        }
    } else if (type->find("video/") != std::string::npos) {
        auto info = av::AssetImageGenerator::loadTrackInfo(file->duplicate());
        if (info.ok()) {
            // A clip's duration in single precision, as the asset gives it.
            format.insert_or_assign("duration", double(static_cast<float>(info.value().duration)));
            if (info.value().naturalSize) {
                format.insert_or_assign("width", int64_t(info.value().naturalSize->width));
                format.insert_or_assign("height", int64_t(info.value().naturalSize->height));
            } else {
                ns::nslog("No video tracks found for %@", path);
            }
        }
    } else if (type->find("audio/") != std::string::npos) {
        if (!readWAVFormat(file->head, format)) readSoundFormat(*file, format);
    }
    sendToPage(HYBPluginResult::resultWithStatusMessageAsDictionary(HYBResultStatusOK, format),
               command.callbackId());
}

ns::Dictionary HYBCapture::getMediaDictionaryFromPath(const std::string& path,
                                                      const std::optional<std::string>& type) {
    auto file = filePlugin();
    std::error_code ec;
    const auto resolved = std::filesystem::weakly_canonical(path, ec);
    ns::Dictionary media;
    media.emplace("name", std::filesystem::path(path).filename().string());
    media.emplace("fullPath", path);
    if (file && !ec) {
        if (auto url = file->fileSystemURLforLocalPath(resolved.string())) {
            media.emplace("localURL", url->absoluteURL());
        }
    }
    if (type) {
        media.emplace("type", *type);
    } else if (file) {
        auto mime = file->getMimeTypeFromPath(path);
        media.emplace("type", mime ? ns::Value(*mime) : ns::Value::null());
    }
    struct stat info {};
    const bool found = ::stat(path.c_str(), &info) == 0;
    media.emplace("lastModifiedDate",
                  found ? double(info.st_mtim.tv_sec) * 1000.0 + info.st_mtim.tv_nsec / 1e6 : 0.0);
    media.emplace("size", found ? uint64_t(info.st_size) : uint64_t(0));
    return media;
}
