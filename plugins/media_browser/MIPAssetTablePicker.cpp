#include "plugins/media_browser/MIPAssetTablePicker.h"

#include <cmath>

#include "platform/dispatch/Queue.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Screen.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/TransitionCoordinator.h"
#include "platform/ui/View.h"

void MIPAssetTablePicker::loadView() {
    auto table = ui::TableView::create(ui::Screen::main().bounds());
    table->setDataSource(std::weak_ptr<ui::TableViewDataSource>(
        std::static_pointer_cast<MIPAssetTablePicker>(shared_from_this())));
    table->setTableDelegate(std::weak_ptr<ui::TableViewDelegate>(
        std::static_pointer_cast<MIPAssetTablePicker>(shared_from_this())));
    setView(table);
}

std::shared_ptr<ui::TableView> MIPAssetTablePicker::tableView() const {
    return std::dynamic_pointer_cast<ui::TableView>(const_cast<MIPAssetTablePicker*>(this)->view());
}

void MIPAssetTablePicker::viewDidLoad() {
    // Taps go to the cells' own recognizers, not to row selection.
    tableView()->setShowsSeparators(false);
    tableView()->setAllowsSelection(false);
    mipAssets_.clear();
    if (!immediateReturn_) {
        std::weak_ptr<MIPAssetTablePicker> weak =
            std::static_pointer_cast<MIPAssetTablePicker>(shared_from_this());
        navigationItem().setRightBarButtonItem(
            ui::BarButtonItem::withSystemItem(ui::BarButtonItem::SystemItem::Done, [weak] {
                if (auto self = weak.lock()) self->doneAction();
            }));
        navigationItem().setTitle("Loading...");
    }
    preparePhotos();
}

void MIPAssetTablePicker::updateColumns() {
    columns_ = static_cast<int>(view()->frame().size.width / kColumnWidth);
}

void MIPAssetTablePicker::viewWillAppear(bool) {
    updateColumns();
    tableView()->reloadData();
}

void MIPAssetTablePicker::viewWillTransitionToSize(ui::Size size,
                                                   ui::TransitionCoordinator& coordinator) {
    ViewController::viewWillTransitionToSize(size, coordinator);
    const auto from = ui::StatusBar::shared().orientation();
    std::weak_ptr<MIPAssetTablePicker> weak = sharedSelf<MIPAssetTablePicker>();
    coordinator.animateAlongsideTransition({}, [weak, from] {
        if (auto self = weak.lock()) self->didRotateFromInterfaceOrientation(from);
    });
}

void MIPAssetTablePicker::didRotateFromInterfaceOrientation(ui::InterfaceOrientation) {
    updateColumns();
    tableView()->reloadData();
}

void MIPAssetTablePicker::preparePhotos() {
    std::weak_ptr<MIPAssetTablePicker> weak = sharedSelf<MIPAssetTablePicker>();
    auto photos = assetGroup_;
    auto filter = filter_;
    dispatch::Queue::global().async([weak, photos, filter] {
        auto self = weak.lock();
        if (!self) return;
        std::vector<std::shared_ptr<MIPAsset>> kept;
        auto filterDelegate = filter.lock();
        for (const auto& photo : photos) {
            auto asset = std::make_shared<MIPAsset>(photo);
            asset->setParent(std::weak_ptr<MIPAssetDelegate>(self));
            if (filterDelegate && filterDelegate->isAssetFilteredOut(*self, *asset)) continue;
            kept.push_back(std::move(asset));
        }
        // The list becomes the table's only on the main thread.
        dispatch::Queue::main().async([weak, kept = std::move(kept)]() mutable {
            auto picker = weak.lock();
            if (!picker) return;
            picker->mipAssets_ = std::move(kept);
            auto table = picker->tableView();
            table->reloadData();
            table->scrollToBottom();
            picker->navigationItem().setTitle(picker->singleSelection_ ? "Pick Photo"
                                                                       : "Pick Photos");
        });
    });
}

size_t MIPAssetTablePicker::numberOfRows() {
    if (columns_ < 1) columns_ = 4;
    return static_cast<size_t>(
        std::ceil(static_cast<float>(mipAssets_.size()) / static_cast<float>(columns_)));
}

std::vector<std::shared_ptr<MIPAsset>> MIPAssetTablePicker::assetsForIndexPath(size_t row) {
    if (columns_ < 1) columns_ = 4;
    std::vector<std::shared_ptr<MIPAsset>> out;
    for (size_t i = row * size_t(columns_); i < mipAssets_.size() && out.size() < size_t(columns_);
         ++i) {
        out.push_back(mipAssets_[i]);
    }
    return out;
}

std::shared_ptr<MIPAssetCell> MIPAssetTablePicker::cellForRow(size_t row) {
    auto cell = MIPAssetCell::create(view()->frame().size.width);
    cell->setAssets(assetsForIndexPath(row));
    return cell;
}

size_t MIPAssetTablePicker::totalSelectedAssets() const {
    size_t count = 0;
    for (const auto& asset : mipAssets_) count += asset->selected() ? 1 : 0;
    return count;
}

bool MIPAssetTablePicker::shouldSelectAsset(const MIPAsset& asset) {
    auto parent = parent_.lock();
    return !parent || parent->shouldSelectAsset(*asset.asset(), totalSelectedAssets());
}

void MIPAssetTablePicker::assetSelected(const MIPAsset& asset) {
    if (singleSelection_) {
        for (const auto& other : mipAssets_) {
            if (other.get() != &asset) other->setSelected(false);
        }
    }
    if (!immediateReturn_) return;
    std::weak_ptr<MIPAssetSelectionDelegate> parent = parent_;
    auto photo = asset.asset();
    dispatch::Queue::main().async([parent, photo] {
        if (auto p = parent.lock()) p->selectedAssets({photo});
    });
}

void MIPAssetTablePicker::doneAction() {
    std::vector<std::shared_ptr<av::PhotoAsset>> chosen;
    for (const auto& asset : mipAssets_) {
        if (asset->selected()) chosen.push_back(asset->asset());
    }
    if (auto parent = parent_.lock()) parent->selectedAssets(chosen);
}
