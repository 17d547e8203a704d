#include "bridge/HYBLaunchScreen.h"

#include "bridge/HYBViewController.h"

HYBLaunchScreen::HYBLaunchScreen() {
    registerAction("show", &HYBLaunchScreen::show);
    registerAction("hide", &HYBLaunchScreen::hide);
}

void HYBLaunchScreen::show(const HYBInvokedUrlCommand& /*command*/) {
    if (auto controller = viewController()) controller->showLaunchScreen(true);
}

void HYBLaunchScreen::hide(const HYBInvokedUrlCommand& /*command*/) {
    if (auto controller = viewController()) controller->showLaunchScreen(false);
}
