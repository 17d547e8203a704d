#include "platform/ui/ActivityIndicatorView.h"

namespace ui {

void ActivityIndicatorView::setHidesWhenStopped(bool on) {
    hidesWhenStopped_ = on;
    if (!animating_) setHidden(on);
}

void ActivityIndicatorView::startAnimating() {
    animating_ = true;
    setHidden(false);
}

void ActivityIndicatorView::stopAnimating() {
    animating_ = false;
    if (hidesWhenStopped_) setHidden(true);
}

}  // namespace ui
