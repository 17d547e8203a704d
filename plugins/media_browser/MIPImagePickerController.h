#pragma once

#include <cstdint>
#include <memory>

#include "platform/ui/AdaptivePresentationControllerDelegate.h"
#include "platform/ui/NavigationController.h"
#include "plugins/media_browser/MIPAssetDelegates.h"

class MIPAlbumPickerController;

// The picker's navigation stack (album list, then one album's grid); keeps the selection
// limit and hands the pick to its delegate.
class MIPImagePickerController : public ui::NavigationController,
                                 public MIPAssetSelectionDelegate,
                                 public ui::AdaptivePresentationControllerDelegate {
public:
    static constexpr int64_t kDefaultMaximumImagesCount = 4;

    // A picker with an album list as its root, the list's parent being the picker.
    static std::shared_ptr<MIPImagePickerController> initImagePicker(
        std::shared_ptr<MIPAlbumPickerController> albums = nullptr);

    std::shared_ptr<MIPAlbumPickerController> albumPicker() const { return albums_; }
    void setImagePickerDelegate(std::weak_ptr<MIPImagePickerControllerDelegate> d) {
        delegate_ = std::move(d);
    }
    int64_t maximumImagesCount() const { return maximumImagesCount_; }
    void setMaximumImagesCount(int64_t count) { maximumImagesCount_ = count; }
    bool returnsOriginalImage() const { return returnsOriginalImage_; }
    void setReturnsOriginalImage(bool on) { returnsOriginalImage_ = on; }

    void cancelImagePicker();
    // Any way up on a tablet; elsewhere every way but upside down.
    bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation orientation) const;
    // The user closed the picker's window: the same as Cancel.
    void presentationControllerDidDismiss(ui::PresentationController&) override {
        cancelImagePicker();
    }
    void selectedAssets(const std::vector<std::shared_ptr<av::PhotoAsset>>& assets) override;
    bool shouldSelectAsset(const av::PhotoAsset& asset, uint64_t previousCount) override;

private:
    std::shared_ptr<MIPAlbumPickerController> albums_;
    std::weak_ptr<MIPImagePickerControllerDelegate> delegate_;
    int64_t maximumImagesCount_ = kDefaultMaximumImagesCount;
    bool returnsOriginalImage_ = false;
};
