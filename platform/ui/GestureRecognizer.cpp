#include "platform/ui/GestureRecognizer.h"

#include "platform/ui/View.h"

namespace ui {

void GestureRecognizer::fire() {
    if (!enabled_ || !view()) return;
    transition(State::Began);
    transition(State::Ended);
    state_ = State::Possible;
}

void GestureRecognizer::transition(State state) {
    state_ = state;
    if (action_) action_(*this);
}

}  // namespace ui
