#include "plugins/media_browser/MIPAsset.h"

void MIPAsset::setSelected(bool selected) {
    if (!selected) {
        selected_ = false;
        return;
    }
    auto parent = parent_.lock();
    if (parent && !parent->shouldSelectAsset(*this)) return;
    selected_ = true;
    if (parent) parent->assetSelected(*this);
}
