#include "plugins/media_browser/MIPImagePickerController.h"

#include "platform/ns/Bundle.h"
#include "platform/ns/Format.h"
#include "platform/ui/AlertAction.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Device.h"
#include "platform/ui/PresentationController.h"
#include "plugins/media_browser/MIPAlbumPickerController.h"

std::shared_ptr<MIPImagePickerController> MIPImagePickerController::initImagePicker(
    std::shared_ptr<MIPAlbumPickerController> albums) {
    if (!albums) albums = std::make_shared<MIPAlbumPickerController>();
    auto picker = std::make_shared<MIPImagePickerController>();
    picker->albums_ = albums;
    picker->setViewControllers({albums});
    albums->setParent(std::weak_ptr<MIPAssetSelectionDelegate>(picker));
    picker->presentationController().setDelegate(
        std::weak_ptr<ui::AdaptivePresentationControllerDelegate>(picker));
    return picker;
}

void MIPImagePickerController::cancelImagePicker() {
    if (auto delegate = delegate_.lock()) delegate->didCancel(*this);
}

bool MIPImagePickerController::shouldAutorotateToInterfaceOrientation(
    ui::InterfaceOrientation orientation) const {
    if (ui::Device::current().userInterfaceIdiom() == ui::Device::Idiom::Pad) return true;
    return orientation != ui::InterfaceOrientation::PortraitUpsideDown;
}

bool MIPImagePickerController::shouldSelectAsset(const av::PhotoAsset&, uint64_t previousCount) {
    // Compared unsigned: a negative limit never refuses.
    if (static_cast<uint64_t>(maximumImagesCount_) > previousCount) return true;
    const int limit = static_cast<int>(maximumImagesCount_);
    auto alert = ui::AlertController::create(
        ns::format(ns::localizedString("Maximum %d photos."), limit),
        ns::format(ns::localizedString("You can only select %d photos at a time."), limit),
        ui::AlertController::Style::Alert);
    alert->addAction(ui::AlertAction::create(ns::localizedString("Okay"),
                                             ui::AlertAction::Style::Default, nullptr));
    presentViewController(alert, true);
    return false;
}

void MIPImagePickerController::selectedAssets(
    const std::vector<std::shared_ptr<av::PhotoAsset>>& assets) {
    std::vector<ns::Dictionary> info;
    std::vector<std::shared_ptr<av::PhotoAsset>> kept;
    for (const auto& asset : assets) {
        if (!asset) continue;
        ns::Dictionary entry;
        entry.emplace("UIImagePickerControllerReferenceURL", asset->assetURL().absoluteString());
        info.push_back(std::move(entry));
        kept.push_back(asset);
    }
    if (auto delegate = delegate_.lock()) {
        delegate->didFinishPickingMediaWithInfo(*this, info, kept);
        return;
    }
    if (viewControllers().size() > 1) setViewControllers({viewControllers().front()});
}
