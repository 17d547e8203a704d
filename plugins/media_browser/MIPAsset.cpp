#include "plugins/media_browser/MIPAsset.h"

#include <algorithm>

#include "platform/ui/GraphicsContext.h"
#include "plugins/media_browser/MIPAssetCell.h"
#include "plugins/media_browser/ZIVPhotoPipeline.h"

void MIPAsset::setSelected(bool selected) {
    if (!selected) {
        selected_ = false;
        return;
    }
    auto parent = parent_.lock();
    if (parent && !parent->shouldSelectAsset(*this)) return;
    selected_ = true;
    if (parent) parent->assetSelected(*this);
}

std::shared_ptr<ui::Image> MIPAsset::thumbnail() {
    if (thumbnailTried_) return thumbnail_;
    thumbnailTried_ = true;
    auto bytes = asset_->getBytes(0, asset_->size());
    if (!bytes.ok()) return nullptr;
    // Twice the side, so that the thumbnail stays sharp on a display of scale 2.
    const double side = 2 * MIPAssetCell::kThumbSide;
    auto decoded = ZIVPhotoPipeline::decodeUpright(bytes.value(), {side, side});
    if (!decoded.ok()) return nullptr;
    // Filled and cropped to a square, as the grid shows it; a whole decoded photo would cost
    // the grid far more memory than it shows.
    const auto& bitmap = *decoded.value();
    const double scale = std::max(side / bitmap.width(), side / bitmap.height());
    const double w = bitmap.width() * scale;
    const double h = bitmap.height() * scale;
    auto context = ui::GraphicsContext::beginImageContext({side, side}, true, 1.0);
    if (!context) return nullptr;
    context->drawBitmap(bitmap, {{(side - w) / 2, (side - h) / 2}, {w, h}});
    thumbnail_ = ui::Image::imageWithBitmap(context->bitmap(), 2.0);
    return thumbnail_;
}
