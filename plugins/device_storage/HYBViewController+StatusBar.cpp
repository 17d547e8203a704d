#include "plugins/device_storage/HYBViewController+StatusBar.h"

#include "bridge/HYBViewController.h"
#include "platform/dispatch/QueueContract.h"

std::optional<bool> sb_hideStatusBar(const HYBViewController& controller) {
    HYB_EXPECT_MAIN_THREAD();
    return controller.sb_hideStatusBar();
}

void setSb_hideStatusBar(HYBViewController& controller, std::optional<bool> hide) {
    HYB_EXPECT_MAIN_THREAD();
    controller.setSb_hideStatusBar(hide);
}

std::optional<ui::StatusBar::Style> sb_statusBarStyle(const HYBViewController& controller) {
    HYB_EXPECT_MAIN_THREAD();
    return controller.sb_statusBarStyle();
}

void setSb_statusBarStyle(HYBViewController& controller,
                          std::optional<ui::StatusBar::Style> style) {
    HYB_EXPECT_MAIN_THREAD();
    controller.setSb_statusBarStyle(style);
}

bool prefersStatusBarHidden(const HYBViewController& controller) {
    HYB_EXPECT_MAIN_THREAD();
    return controller.sb_hideStatusBar().value_or(false);
}

ui::StatusBar::Style preferredStatusBarStyle(const HYBViewController& controller) {
    HYB_EXPECT_MAIN_THREAD();
    return controller.sb_statusBarStyle().value_or(ui::StatusBar::Style::Default);
}
