#pragma once

#include <memory>
#include <vector>

#include "platform/ui/Geometry.h"
#include "platform/ui/View.h"
#include "plugins/media_browser/MIPAsset.h"

// One row of the grid: up to `columns` thumbnails, centred, each with a selection overlay.
class MIPAssetCell : public ui::View {
public:
    static constexpr double kThumbSide = 75;
    static constexpr double kGap = 4;
    static constexpr double kTop = 2;
    static constexpr double kRowHeight = 79;

    explicit MIPAssetCell(double width);

    void setAssets(std::vector<std::shared_ptr<MIPAsset>> assets);
    const std::vector<std::shared_ptr<MIPAsset>>& rowAssets() const { return rowAssets_; }
    // The frame of thumbnail i in the cell.
    ui::Rect thumbnailFrame(size_t index) const;
    // Whether photo i's overlay shows.
    bool overlayShown(size_t index) const { return index < overlays_.size() && overlays_[index]; }
    // A tap at a point of the cell: the photo under it flips its selection.
    void cellTapped(ui::Point point);

private:
    double width_;
    std::vector<std::shared_ptr<MIPAsset>> rowAssets_;
    std::vector<bool> overlays_;
};
