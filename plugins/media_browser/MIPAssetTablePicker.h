#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/av/PhotoAsset.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"
#include "plugins/media_browser/MIPAsset.h"
#include "plugins/media_browser/MIPAssetCell.h"
#include "plugins/media_browser/MIPAssetDelegates.h"

// The grid of one album's photos. Taps select photos within the limit the picker sets; Done
// (or, in immediate mode, the first selection) hands the choice up to the parent.
class MIPAssetTablePicker : public ui::ViewController,
                            public MIPAssetDelegate,
                            public ui::TableViewDataSource,
                            public ui::TableViewDelegate {
public:
    static constexpr double kColumnWidth = 80;

    void setParent(std::weak_ptr<MIPAssetSelectionDelegate> parent) { parent_ = std::move(parent); }
    void setAssetGroup(std::vector<std::shared_ptr<av::PhotoAsset>> photos) {
        assetGroup_ = std::move(photos);
    }
    void setSingleSelection(bool on) { singleSelection_ = on; }
    bool singleSelection() const { return singleSelection_; }
    void setImmediateReturn(bool on) { immediateReturn_ = on; }
    bool immediateReturn() const { return immediateReturn_; }
    void setAssetPickerFilterDelegate(std::weak_ptr<MIPAssetPickerFilterDelegate> d) {
        filter_ = std::move(d);
    }

    std::string title() const { return navigationItem().title().value_or(""); }
    bool hasDoneButton() const { return static_cast<bool>(navigationItem().rightBarButtonItem()); }
    int columns() const { return columns_; }
    const std::vector<std::shared_ptr<MIPAsset>>& mipAssets() const { return mipAssets_; }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    // The view's size changes (a rotation; on a desktop, its window resized): once it has
    // taken the new size, didRotateFromInterfaceOrientation follows.
    void viewWillTransitionToSize(ui::Size size, ui::TransitionCoordinator& coordinator) override;
    // The columns follow the view's width, and the rows are laid out again.
    void didRotateFromInterfaceOrientation(ui::InterfaceOrientation from);
    bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation) const { return true; }
    // Lists the album off the main thread and shows it on the main thread.
    void preparePhotos();
    void doneAction();

    size_t numberOfRows();
    std::vector<std::shared_ptr<MIPAsset>> assetsForIndexPath(size_t row);
    // The row's cell, set up as the table shows it.
    std::shared_ptr<MIPAssetCell> cellForRow(size_t row);
    size_t totalSelectedAssets() const;

    std::shared_ptr<ui::TableView> tableView() const;
    size_t numberOfRows(ui::TableView&) override { return numberOfRows(); }
    std::shared_ptr<ui::TableViewCell> cellForRow(ui::TableView&, size_t row) override {
        return cellForRow(row);
    }
    double heightForRow(ui::TableView&, size_t) override { return MIPAssetCell::kRowHeight; }

    bool shouldSelectAsset(const MIPAsset& asset) override;
    void assetSelected(const MIPAsset& asset) override;

private:
    // Thumbnails per row for the view's width: a column is kColumnWidth points wide.
    void updateColumns();

    std::weak_ptr<MIPAssetSelectionDelegate> parent_;
    std::vector<std::shared_ptr<av::PhotoAsset>> assetGroup_;
    std::vector<std::shared_ptr<MIPAsset>> mipAssets_;
    std::weak_ptr<MIPAssetPickerFilterDelegate> filter_;
    bool singleSelection_ = false;
    bool immediateReturn_ = false;
    int columns_ = 0;
};
