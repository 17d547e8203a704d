#include "platform/ui/ActivityIndicatorView.h"

namespace ui {

void ActivityIndicatorView::setHidesWhenStopped(bool on) {
    Display::update(hidesWhenStopped_, on);
    if (!animating_) setHidden(on);
}

void ActivityIndicatorView::startAnimating() {
    Display::update(animating_, true);
    setHidden(false);
}

void ActivityIndicatorView::stopAnimating() {
    Display::update(animating_, false);
    if (hidesWhenStopped_) setHidden(true);
}

}  // namespace ui
