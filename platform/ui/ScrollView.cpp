#include "platform/ui/ScrollView.h"

namespace ui {

bool ScrollView::scrollToTopForStatusBarTap() {
    // Hold the view: the delegate may drop its last reference while it is asked.
    auto self = sharedView();
    auto d = delegate();
    if (d && !d->scrollViewShouldScrollToTop(*this)) return false;
    contentOffset_ = {contentOffset_.x, 0};
    if (d) d->scrollViewDidScrollToTop(*this);
    return true;
}

}  // namespace ui
