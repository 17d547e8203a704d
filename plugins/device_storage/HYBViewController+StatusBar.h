#pragma once

#include <optional>

#include "platform/ui/StatusBar.h"

class HYBViewController;

// The root view controller's answers to the platform about the status bar, set by the status
// bar plug-in. The two values live in the controller (nothing until the plug-in sets them),
// which answers the platform with them. Main thread only.

std::optional<bool> sb_hideStatusBar(const HYBViewController& controller);
void setSb_hideStatusBar(HYBViewController& controller, std::optional<bool> hide);
std::optional<ui::StatusBar::Style> sb_statusBarStyle(const HYBViewController& controller);
void setSb_statusBarStyle(HYBViewController& controller, std::optional<ui::StatusBar::Style> style);

// False while nothing is set.
bool prefersStatusBarHidden(const HYBViewController& controller);
// The default style while nothing is set.
ui::StatusBar::Style preferredStatusBarStyle(const HYBViewController& controller);
