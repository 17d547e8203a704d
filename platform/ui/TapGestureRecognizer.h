#pragma once

#include "platform/ui/Geometry.h"
#include "platform/ui/GestureRecognizer.h"

namespace ui {

// A single tap; discrete: its action runs once, in the Ended state, with the tap's point.
class TapGestureRecognizer : public GestureRecognizer {
public:
    using GestureRecognizer::GestureRecognizer;

    // Where the tap was, in the coordinates of the recognizer's view.
    Point locationInView() const { return location_; }
    // A tap at `point` (of the view) recognizes.
    void tapAt(Point point);
    void fire() override;

private:
    Point location_;
};

}  // namespace ui
