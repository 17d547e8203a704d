#pragma once

#include <memory>
#include <vector>

#include "platform/ui/Geometry.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/TableViewCell.h"
#include "plugins/media_browser/MIPAsset.h"

// One row of the grid: up to `columns` thumbnails, centred, each with a selection overlay.
// A tap on the row selects or deselects the photo under it.
class MIPAssetCell : public ui::TableViewCell {
public:
    static constexpr double kThumbSide = 75;
    static constexpr double kGap = 4;
    static constexpr double kTop = 2;
    static constexpr double kRowHeight = 79;
    static constexpr const char* kOverlayImageName = "Overlay";

    explicit MIPAssetCell(double width);
    // Adds the tap recognizer (needs the cell to be held by a shared pointer).
    static std::shared_ptr<MIPAssetCell> create(double width);

    void setAssets(std::vector<std::shared_ptr<MIPAsset>> assets);
    const std::vector<std::shared_ptr<MIPAsset>>& rowAssets() const { return rowAssets_; }
    // The frame of thumbnail i in the cell.
    ui::Rect thumbnailFrame(size_t index) const;
    // A tap at a point of the cell: the photo under it flips its selection.
    void cellTapped(ui::Point point);
    void layoutSubviews() override;

    // The overlay of a selected photo: the bundle's "Overlay" image, else a drawn one.
    static std::shared_ptr<ui::Image> overlayImage();

private:
    double width_;
    std::vector<std::shared_ptr<MIPAsset>> rowAssets_;
    std::vector<std::shared_ptr<ui::ImageView>> imageViews_;
    std::vector<std::shared_ptr<ui::ImageView>> overlayViews_;
};
