#pragma once

namespace ui {

// Orientations of the user interface, with the platform's numeric values.
enum class InterfaceOrientation {
    Unknown = 0,
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeRight = 3,
    LandscapeLeft = 4,
};

// Sets of orientations: bit 1 << orientation.
enum InterfaceOrientationMask : unsigned {
    kInterfaceOrientationMaskPortrait = 1u << 1,
    kInterfaceOrientationMaskPortraitUpsideDown = 1u << 2,
    kInterfaceOrientationMaskLandscapeRight = 1u << 3,
    kInterfaceOrientationMaskLandscapeLeft = 1u << 4,
    kInterfaceOrientationMaskLandscape = (1u << 3) | (1u << 4),
    kInterfaceOrientationMaskAll = 30,
    kInterfaceOrientationMaskAllButUpsideDown = 26,
};

inline bool isLandscape(InterfaceOrientation o) {
    return o == InterfaceOrientation::LandscapeLeft || o == InterfaceOrientation::LandscapeRight;
}

}  // namespace ui
