#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Data.h"
#include "platform/ns/Object.h"
#include "platform/ui/Bitmap.h"
#include "platform/ui/Geometry.h"

namespace ui {

// An immutable image: a bitmap, the scale of its pixels to points, and the orientation in
// which the bitmap is to be shown.
class Image : public ns::Object {
public:
    // The platform's eight orientations: how the stored bitmap is turned to stand upright.
    enum class Orientation {
        Up = 0,
        Down = 1,
        Left = 2,
        Right = 3,
        UpMirrored = 4,
        DownMirrored = 5,
        LeftMirrored = 6,
        RightMirrored = 7,
    };

    // A PNG or JPEG file; null for anything else and for images a bitmap may not hold.
    static std::shared_ptr<Image> imageWithData(const ns::Data& data, double scale = 1.0);
    // A named image of the main bundle: `name` is a path below the bundle ("icon", or
    // "Plugin.bundle/icon") without extension; NAME@2x.png (scale 2), NAME.png and NAME.jpg are
    // tried in that order. A name that ends in ".png" or ".jpg" is a file name, taken as it is
    // at scale 1. Null when there is none, for a name that leaves the bundle, and for a file
    // that does not decode. Images are kept once loaded (main thread only).
    static std::shared_ptr<Image> imageNamed(const std::string& name);
    // Null for no bitmap or a scale that is not positive.
    static std::shared_ptr<Image> imageWithBitmap(std::shared_ptr<const Bitmap> bitmap,
                                                  double scale = 1.0,
                                                  Orientation orientation = Orientation::Up);

    Image(std::shared_ptr<const Bitmap> bitmap, double scale, Orientation orientation)
        : bitmap_(std::move(bitmap)), scale_(scale), orientation_(orientation) {}

    const std::shared_ptr<const Bitmap>& bitmap() const { return bitmap_; }
    double scale() const { return scale_; }
    Orientation imageOrientation() const { return orientation_; }
    // In points, as shown: width and height trade places for the four sideways orientations.
    Size size() const;

    // The bitmap as a PNG file (the orientation is not recorded).
    std::optional<ns::Data> pngData() const;
    // As a JPEG file of the given quality (0 to 1).
    std::optional<ns::Data> jpegData(double quality) const;

    std::string description() const override;

private:
    std::shared_ptr<const Bitmap> bitmap_;
    double scale_;
    Orientation orientation_;
};

}  // namespace ui
