#pragma once

#include "platform/ui/InterfaceOrientation.h"

// Answers the platform's rotation questions for a screen; other screens defer to it.
class HYBScreenOrientationDelegate {
public:
    virtual ~HYBScreenOrientationDelegate() = default;
    virtual bool shouldAutorotate() const = 0;
    virtual ui::InterfaceOrientationMask supportedInterfaceOrientations() const = 0;
};
