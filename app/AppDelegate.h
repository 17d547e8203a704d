#pragma once

#include "bridge/HYBAppDelegate.h"

// The application's delegate: launches with the application's own root view controller.
class AppDelegate : public HYBAppDelegate {
public:
    // Makes a MainViewController (its shared set-up runs now), then launches as the host does.
    bool didFinishLaunchingWithOptions(ui::Application& application,
                                       const ns::Dictionary& launchOptions) override;
};
