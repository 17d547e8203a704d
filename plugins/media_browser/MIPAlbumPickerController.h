#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/av/PhotoAsset.h"
#include "platform/ui/ViewController.h"
#include "plugins/media_browser/MIPAssetDelegates.h"

class MIPAssetTablePicker;

// The list of albums; the device's own roll of saved photos comes first.
class MIPAlbumPickerController : public ui::ViewController, public MIPAssetSelectionDelegate {
public:
    static constexpr int kGroupSavedPhotos = 16;
    static constexpr int kGroupAlbum = 2;
    static constexpr const char* kCameraRollName = "Camera Roll";

    struct AssetGroup {
        std::string name;
        int type = kGroupAlbum;
        std::vector<std::shared_ptr<av::PhotoAsset>> photos;
    };

    void setParent(std::weak_ptr<MIPAssetSelectionDelegate> parent) { parent_ = std::move(parent); }
    void setSingleSelection(bool on) { singleSelection_ = on; }
    void setImmediateReturn(bool on) { immediateReturn_ = on; }
    void setAssetPickerFilterDelegate(std::weak_ptr<MIPAssetPickerFilterDelegate> d) {
        filter_ = std::move(d);
    }

    const std::string& title() const { return title_; }
    const std::vector<AssetGroup>& assetGroups() const { return assetGroups_; }

    void viewDidLoad() override;
    // Adds one group as the enumeration finds it: the saved-photos roll goes to the front.
    void addGroup(AssetGroup group);
    void reloadTableView() { title_ = "Select an Album"; }
    // "Name (count)" of an album row.
    std::string rowText(size_t row) const;
    // Pushes the album's grid.
    std::shared_ptr<MIPAssetTablePicker> didSelectRow(size_t row);
    void cancel();

    void selectedAssets(const std::vector<std::shared_ptr<av::PhotoAsset>>& assets) override;
    bool shouldSelectAsset(const av::PhotoAsset& asset, uint64_t previousCount) override;

private:
    std::weak_ptr<MIPAssetSelectionDelegate> parent_;
    std::weak_ptr<MIPAssetPickerFilterDelegate> filter_;
    std::vector<AssetGroup> assetGroups_;
    std::string title_;
    bool singleSelection_ = false;
    bool immediateReturn_ = false;
};
