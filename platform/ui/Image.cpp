#include "platform/ui/Image.h"

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
