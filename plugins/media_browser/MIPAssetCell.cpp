#include "plugins/media_browser/MIPAssetCell.h"

MIPAssetCell::MIPAssetCell(double width) : width_(width) {}

void MIPAssetCell::setAssets(std::vector<std::shared_ptr<MIPAsset>> assets) {
    rowAssets_ = std::move(assets);
    overlays_.assign(rowAssets_.size(), false);
    for (size_t i = 0; i < rowAssets_.size(); ++i) overlays_[i] = rowAssets_[i]->selected();
}

ui::Rect MIPAssetCell::thumbnailFrame(size_t index) const {
    const double n = static_cast<double>(rowAssets_.size());
    const double start = (width_ - (n * kThumbSide + n * kGap - kGap)) / 2;
    return {{start + double(index) * (kThumbSide + kGap), kTop}, {kThumbSide, kThumbSide}};
}

void MIPAssetCell::cellTapped(ui::Point point) {
    for (size_t i = 0; i < rowAssets_.size(); ++i) {
        const ui::Rect frame = thumbnailFrame(i);
        if (point.x < frame.origin.x || point.x >= frame.origin.x + frame.size.width ||
            point.y < frame.origin.y || point.y >= frame.origin.y + frame.size.height) {
            continue;
        }
        auto& asset = *rowAssets_[i];
        asset.setSelected(!asset.selected());
        overlays_[i] = asset.selected();
        return;
    }
}
