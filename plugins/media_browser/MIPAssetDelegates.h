#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/av/PhotoAsset.h"
#include "platform/ns/Value.h"

class MIPAsset;
class MIPAssetTablePicker;
class MIPImagePickerController;

// Told by a photo of the grid when it is about to be, or has been, selected.
class MIPAssetDelegate {
public:
    virtual ~MIPAssetDelegate() = default;
    virtual bool shouldSelectAsset(const MIPAsset& asset) = 0;
    virtual void assetSelected(const MIPAsset& asset) = 0;
};

// The chain from the grid up to the picker: the limit question and the final choice.
class MIPAssetSelectionDelegate {
public:
    virtual ~MIPAssetSelectionDelegate() = default;
    virtual void selectedAssets(const std::vector<std::shared_ptr<av::PhotoAsset>>& assets) = 0;
    virtual bool shouldSelectAsset(const av::PhotoAsset& asset, uint64_t previousCount) = 0;
};

// Leaves photos out of the grid.
class MIPAssetPickerFilterDelegate {
public:
    virtual ~MIPAssetPickerFilterDelegate() = default;
    virtual bool isAssetFilteredOut(const MIPAssetTablePicker& picker, const MIPAsset& asset) = 0;
};

// Receives the pick: one dictionary per photo, or the cancel.
class MIPImagePickerControllerDelegate {
public:
    virtual ~MIPImagePickerControllerDelegate() = default;
    // Each dictionary holds the asset's URL under "UIImagePickerControllerReferenceURL"; the
    // assets themselves come alongside, in the same order.
    virtual void didFinishPickingMediaWithInfo(
        MIPImagePickerController& picker, const std::vector<ns::Dictionary>& info,
        const std::vector<std::shared_ptr<av::PhotoAsset>>& assets) = 0;
    virtual void didCancel(MIPImagePickerController& picker) = 0;
};
