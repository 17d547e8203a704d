#pragma once

#include "platform/ui/GestureRecognizer.h"

namespace ui {

// A press held in place for a minimum time.
class LongPressGestureRecognizer : public GestureRecognizer {
public:
    using GestureRecognizer::GestureRecognizer;

    double minimumPressDuration() const { return minimumPressDuration_; }
    void setMinimumPressDuration(double seconds) { minimumPressDuration_ = seconds; }
    // How far, in points, the finger may move before the press fails.
    double allowableMovement() const { return allowableMovement_; }
    void setAllowableMovement(double points) { allowableMovement_ = points; }

private:
    double minimumPressDuration_ = 0.5;
    double allowableMovement_ = 10;
};

}  // namespace ui
