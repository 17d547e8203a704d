#pragma once

#include <memory>

#include "platform/av/PhotoAsset.h"
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

private:
    std::shared_ptr<av::PhotoAsset> asset_;
    std::weak_ptr<MIPAssetDelegate> parent_;
    bool selected_ = false;
};
