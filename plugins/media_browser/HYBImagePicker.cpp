#include "plugins/media_browser/HYBImagePicker.h"

#include <algorithm>
#include <filesystem>

#include "platform/av/Camera.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/Sandbox.h"
#include "plugins/media_browser/ZIVPhotoPipeline.h"

void HYBImagePicker::takePicture() {
    auto delegate = delegate_.lock();
    auto camera = av::Camera::shared();
    if (!delegate) return;
    HYBImagePickerInfo info;
    const bool movie =
        std::find(mediaTypes_.begin(), mediaTypes_.end(), kUTTypeMovie) != mediaTypes_.end();
    if (movie) {
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
