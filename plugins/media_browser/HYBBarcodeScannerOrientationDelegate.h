#pragma once

#include "platform/ui/InterfaceOrientation.h"

// What a screen answers when the device turns; the scanner screen adopts it.
class HYBBarcodeScannerOrientationDelegate {
public:
    virtual ~HYBBarcodeScannerOrientationDelegate() = default;
    virtual ui::InterfaceOrientationMask supportedInterfaceOrientations() const = 0;
    virtual bool shouldAutorotateToInterfaceOrientation(
        ui::InterfaceOrientation orientation) const = 0;
    virtual bool shouldAutorotate() const = 0;
};
