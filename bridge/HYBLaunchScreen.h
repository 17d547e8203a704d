#pragma once

#include "bridge/HYBPlugin.h"

// Lets the page show and hide the launch cover. Sends no result.
class HYBLaunchScreen : public HYBPlugin {
public:
    HYBLaunchScreen();

    void show(const HYBInvokedUrlCommand& command);
    void hide(const HYBInvokedUrlCommand& command);
};
