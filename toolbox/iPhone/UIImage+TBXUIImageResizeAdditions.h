#pragma once

#include <memory>

#include "platform/ui/Geometry.h"
#include "platform/ui/Image.h"

// A copy of the image drawn at `size` points (scale 1): stretched; or, preserving the aspect
// ratio, fitted inside `size` (the canvas shrinks to the image) or, with `trimToFit`, covering
// it, centred, its overflow cut. Null when a side of the image or of `size` is below 1 point,
// or the canvas may not be made.
std::shared_ptr<ui::Image> tbx_imageByResizingToSize(const ui::Image& image, ui::Size size,
                                                     bool preserveAspectRatio, bool trimToFit);

// An upright copy of the image's bitmap shown in `orientation`; for Up, a new image over the
// same bitmap. Null when the canvas may not be made. Throws ns::Exception
// (NSInternalInconsistencyException) "Invalid orientation %zd" for a value that is no
// orientation.
std::shared_ptr<ui::Image> tbx_imageByRotating(const ui::Image& image,
                                               ui::Image::Orientation orientation);
