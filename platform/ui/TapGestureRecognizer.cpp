#include "platform/ui/TapGestureRecognizer.h"

namespace ui {

void TapGestureRecognizer::tapAt(Point point) {
    location_ = point;
    fire();
}

void TapGestureRecognizer::fire() {
    if (!isEnabled() || !view()) return;
    transition(State::Ended);
    reset();
}

}  // namespace ui
