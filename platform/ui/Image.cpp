#include "platform/ui/Image.h"

#include <map>
#include <span>
#include <utility>

#include "platform/ns/AtomicFile.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/Format.h"
#include "platform/ui/ImageCodec.h"

namespace ui {

std::shared_ptr<Image> Image::imageWithData(const ns::Data& data, double scale) {
    return imageWithBitmap(ImageCodec::decode(data), scale);
}

std::shared_ptr<Image> Image::imageWithBitmap(std::shared_ptr<const Bitmap> bitmap, double scale,
                                              Orientation orientation) {
    if (!bitmap || !(scale > 0)) return nullptr;
    return std::make_shared<Image>(std::move(bitmap), scale, orientation);
}

std::shared_ptr<Image> Image::imageNamed(const std::string& name) {
    auto bundle = ns::Bundle::mainBundle();
    if (!bundle) return nullptr;
    static std::map<std::pair<std::string, std::string>, std::shared_ptr<Image>> cache;
    const auto key = std::make_pair(bundle->bundlePath(), name);
    if (auto found = cache.find(key); found != cache.end()) return found->second;
    using Candidate = std::pair<const char*, double>;
    static constexpr Candidate kNamed[] = {{"@2x.png", 2.0}, {".png", 1.0}, {".jpg", 1.0}};
    static constexpr Candidate kFileName[] = {{"", 1.0}};
    const bool fileName = name.ends_with(".png") || name.ends_with(".jpg");
    const std::span<const Candidate> candidates =
        fileName ? std::span<const Candidate>(kFileName) : std::span<const Candidate>(kNamed);
    for (const auto& [suffix, scale] : candidates) {
        // The bundle refuses names that are absolute or climb out of it.
        auto path = bundle->pathForResource(name + suffix, "");
        if (!path) continue;
        auto bytes = ns::readFile(*path);
        if (!bytes.ok()) continue;
        auto image = imageWithData(bytes.value(), scale);
        if (!image) continue;
        cache[key] = image;
        return image;
    }
    return nullptr;
}

Size Image::size() const {
    double width = bitmap_->width() / scale_;
    double height = bitmap_->height() / scale_;
    switch (orientation_) {
        case Orientation::Left:
        case Orientation::Right:
        case Orientation::LeftMirrored:
        case Orientation::RightMirrored:
            return {height, width};
        default:
            return {width, height};
    }
}

std::optional<ns::Data> Image::pngData() const {
    return ImageCodec::encodePNG(*bitmap_);
}

std::optional<ns::Data> Image::jpegData(double quality) const {
    return ImageCodec::encodeJPEG(*bitmap_, quality);
}

std::string Image::description() const {
    return ns::format("<Image: %p>, {%g, %g}", static_cast<const void*>(this), size().width,
                      size().height);
}

}  // namespace ui
