#include "plugins/media_browser/MIPAlbumPickerController.h"

#include "platform/av/PhotoLibrary.h"
#include "platform/ns/Format.h"
#include "platform/ns/Log.h"
#include "platform/ns/StringComponents.h"
#include "platform/ui/AlertAction.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "plugins/media_browser/MIPAsset.h"
#include "plugins/media_browser/MIPAssetTablePicker.h"
#include "plugins/media_browser/MIPImagePickerController.h"

namespace {

bool isCameraRoll(const MIPAlbumPickerController::AssetGroup& group) {
    return ns::asciiLowercased(group.name) == "camera roll" &&
           group.type == MIPAlbumPickerController::kGroupSavedPhotos;
}

}  // namespace

void MIPAlbumPickerController::loadView() {
    auto table = ui::TableView::create(ui::Screen::main().bounds());
    auto self = std::static_pointer_cast<MIPAlbumPickerController>(shared_from_this());
    table->setDataSource(std::weak_ptr<ui::TableViewDataSource>(self));
    table->setTableDelegate(std::weak_ptr<ui::TableViewDelegate>(self));
    setView(table);
}

std::shared_ptr<ui::TableView> MIPAlbumPickerController::tableView() const {
    return std::dynamic_pointer_cast<ui::TableView>(
        const_cast<MIPAlbumPickerController*>(this)->view());
}

void MIPAlbumPickerController::reloadTableView() {
    tableView()->reloadData();
    navigationItem().setTitle("Select an Album");
}

std::shared_ptr<ui::TableViewCell> MIPAlbumPickerController::cellForRow(ui::TableView&,
                                                                        size_t row) {
    auto cell = std::make_shared<ui::TableViewCell>("Cell");
    cell->textLabel()->setText(rowText(row));
    // The album's poster: its newest photo, as the grid ends with it.
    const auto& photos = assetGroups_.at(row).photos;
    if (!photos.empty()) cell->imageView()->setImage(MIPAsset(photos.back()).thumbnail());
    cell->setAccessoryType(ui::TableViewCell::Accessory::DisclosureIndicator);
    return cell;
}

void MIPAlbumPickerController::viewDidLoad() {
    navigationItem().setTitle("Loading...");
    std::weak_ptr<MIPAlbumPickerController> weak =
        std::static_pointer_cast<MIPAlbumPickerController>(shared_from_this());
    navigationItem().setRightBarButtonItem(
        ui::BarButtonItem::withSystemItem(ui::BarButtonItem::SystemItem::Cancel, [weak] {
            if (auto self = weak.lock()) self->cancel();
        }));
    assetGroups_.clear();
    auto& library = av::PhotoLibrary::shared();
    auto fail = [this](const ns::Error& error) {
        auto alert = ui::AlertController::create(
            "Error",
            ns::format("Album Error: %@ - %@", error.localizedDescription(),
                       error.userInfo().contains("NSLocalizedRecoverySuggestion")
                           ? error.userInfo().at("NSLocalizedRecoverySuggestion").stringValue()
                           : std::string("(null)")),
            ui::AlertController::Style::Alert);
        alert->addAction(ui::AlertAction::create("Ok", ui::AlertAction::Style::Default, nullptr));
        presentViewController(alert, true);
        ns::nslog("A problem occured %@", error.description());
    };
    auto albums = library.albums();
    if (!albums.ok()) return fail(albums.error());
    for (const auto& album : albums.value()) {
        auto photos = library.assetsInAlbum(album);
        if (!photos.ok()) return fail(photos.error());
        addGroup({album, kGroupAlbum, photos.value()});
    }
    auto roll = library.assetsInAlbum("");
    if (!roll.ok()) return fail(roll.error());
    addGroup({kCameraRollName, kGroupSavedPhotos, roll.value()});
}

void MIPAlbumPickerController::addGroup(AssetGroup group) {
    if (isCameraRoll(group)) {
        assetGroups_.insert(assetGroups_.begin(), std::move(group));
    } else {
        assetGroups_.push_back(std::move(group));
    }
    reloadTableView();
}

std::string MIPAlbumPickerController::rowText(size_t row) const {
    const auto& group = assetGroups_.at(row);
    return ns::format("%@ (%ld)", group.name, static_cast<long>(group.photos.size()));
}

std::shared_ptr<MIPAssetTablePicker> MIPAlbumPickerController::didSelectRow(size_t row) {
    auto grid = std::make_shared<MIPAssetTablePicker>();
    grid->setParent(
        std::weak_ptr<MIPAssetSelectionDelegate>(sharedSelf<MIPAlbumPickerController>()));
    grid->setAssetGroup(assetGroups_.at(row).photos);
    grid->setAssetPickerFilterDelegate(filter_);
    grid->setImmediateReturn(immediateReturn_);
    grid->setSingleSelection(singleSelection_);
    if (auto nav = navigationController()) {
        nav->pushViewController(grid, true);
    } else {
        grid->loadViewIfNeeded();
        grid->viewWillAppear(true);
    }
    return grid;
}

void MIPAlbumPickerController::cancel() {
    auto picker = std::dynamic_pointer_cast<MIPImagePickerController>(parent_.lock());
    if (picker) picker->cancelImagePicker();
}

void MIPAlbumPickerController::selectedAssets(
    const std::vector<std::shared_ptr<av::PhotoAsset>>& assets) {
    if (auto parent = parent_.lock()) parent->selectedAssets(assets);
}

bool MIPAlbumPickerController::shouldSelectAsset(const av::PhotoAsset& asset,
                                                 uint64_t previousCount) {
    auto parent = parent_.lock();
    return !parent || parent->shouldSelectAsset(asset, previousCount);
}
