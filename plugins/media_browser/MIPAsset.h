#pragma once

#include <memory>

#include "platform/av/PhotoAsset.h"
#include "platform/ui/Image.h"
#include "plugins/media_browser/MIPAssetDelegates.h"

// One photo of the grid and whether it is selected.
class MIPAsset {
public:
    explicit MIPAsset(std::shared_ptr<av::PhotoAsset> asset) : asset_(std::move(asset)) {}

    const std::shared_ptr<av::PhotoAsset>& asset() const { return asset_; }
    void setParent(std::weak_ptr<MIPAssetDelegate> parent) { parent_ = std::move(parent); }
    bool selected() const { return selected_; }
    // Selecting asks the parent first; a refusal changes nothing.
    void setSelected(bool selected);
    void toggleSelection() { setSelected(!selected_); }
    // The photo upright, decoded small enough for the grid's thumbnail (kept once made); null
    // when it cannot be read.
    std::shared_ptr<ui::Image> thumbnail();

private:
    std::shared_ptr<av::PhotoAsset> asset_;
    std::weak_ptr<MIPAssetDelegate> parent_;
    bool selected_ = false;
    std::shared_ptr<ui::Image> thumbnail_;
    bool thumbnailTried_ = false;
};
