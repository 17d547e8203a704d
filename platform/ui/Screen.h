#pragma once

#include "platform/ui/Geometry.h"

namespace ui {

// The device's screen. Headless, so its size is configuration: by default a 390 x 844 point
// portrait phone screen at scale 3. The host and tests may change it before building windows.
// Main thread only.
class Screen {
public:
    static constexpr Size kDefaultSize{390, 844};
    static constexpr double kDefaultScale = 3.0;

    static Screen& main();

    Rect bounds() const { return {{0, 0}, size_}; }
    // The bounds less the status bar at the top while the bar shows: the room a screen that
    // lies below the bar has.
    Rect applicationFrame() const;
    double scale() const { return scale_; }
    void setSize(Size size) { size_ = size; }
    void setScale(double scale) { scale_ = scale; }

private:
    Size size_ = kDefaultSize;
    double scale_ = kDefaultScale;
};

}  // namespace ui
