#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/av/PhotoAsset.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"
#include "plugins/media_browser/MIPAssetDelegates.h"

class MIPAssetTablePicker;

// The list of albums; the device's own roll of saved photos comes first.
class MIPAlbumPickerController : public ui::ViewController,
                                 public MIPAssetSelectionDelegate,
                                 public ui::TableViewDataSource,
                                 public ui::TableViewDelegate {
public:
    static constexpr int kGroupSavedPhotos = 16;
    static constexpr int kGroupAlbum = 2;
    static constexpr const char* kCameraRollName = "Camera Roll";
    static constexpr double kRowHeight = 57;

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

    std::string title() const { return navigationItem().title().value_or(""); }
    const std::vector<AssetGroup>& assetGroups() const { return assetGroups_; }

    void loadView() override;
    void viewDidLoad() override;
    // Adds one group as the enumeration finds it: the saved-photos roll goes to the front.
    void addGroup(AssetGroup group);
    void reloadTableView();
    std::shared_ptr<ui::TableView> tableView() const;
    // "Name (count)" of an album row.
    std::string rowText(size_t row) const;
    // Pushes the album's grid.
    std::shared_ptr<MIPAssetTablePicker> didSelectRow(size_t row);
    void cancel();

    size_t numberOfRows(ui::TableView&) override { return assetGroups_.size(); }
    std::shared_ptr<ui::TableViewCell> cellForRow(ui::TableView&, size_t row) override;
    double heightForRow(ui::TableView&, size_t) override { return kRowHeight; }
    void didSelectRow(ui::TableView&, size_t row) override { didSelectRow(row); }

    void selectedAssets(const std::vector<std::shared_ptr<av::PhotoAsset>>& assets) override;
    bool shouldSelectAsset(const av::PhotoAsset& asset, uint64_t previousCount) override;

private:
    std::weak_ptr<MIPAssetSelectionDelegate> parent_;
    std::weak_ptr<MIPAssetPickerFilterDelegate> filter_;
    std::vector<AssetGroup> assetGroups_;
    bool singleSelection_ = false;
    bool immediateReturn_ = false;
};
