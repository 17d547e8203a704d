#include "platform/av/MetadataMachineReadableCodeObject.h"

#include <algorithm>

namespace av {

MetadataMachineReadableCodeObject::MetadataMachineReadableCodeObject(
    MetadataObjectType type, std::optional<std::string> text, std::vector<ui::Point> corners)
    : type_(std::move(type)), text_(std::move(text)), corners_(std::move(corners)) {
    if (corners_.empty()) return;
    double left = corners_[0].x, right = left, top = corners_[0].y, bottom = top;
    for (const auto& corner : corners_) {
        left = std::min(left, corner.x);
        right = std::max(right, corner.x);
        top = std::min(top, corner.y);
        bottom = std::max(bottom, corner.y);
    }
    bounds_ = ui::Rect(left, top, right - left, bottom - top);
}

}  // namespace av
