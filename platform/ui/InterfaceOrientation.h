#pragma once

#include "platform/ui/ApplicationDelegate.h"

namespace ui {

// Orientations of the user interface, with the platform's numeric values; a mask of them
// (InterfaceOrientationMask, with the application delegate) sets bit 1 << orientation.
enum class InterfaceOrientation {
    Unknown = 0,
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeRight = 3,
    LandscapeLeft = 4,
};

inline constexpr InterfaceOrientationMask kInterfaceOrientationMaskAllButUpsideDown = 26;

inline bool isLandscape(InterfaceOrientation o) {
    return o == InterfaceOrientation::LandscapeLeft || o == InterfaceOrientation::LandscapeRight;
}

}  // namespace ui
