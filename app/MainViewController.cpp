#include "app/MainViewController.h"

#include "platform/ui/View.h"
#include "plugins/device_storage/HYBViewController+StatusBar.h"

void MainViewController::viewDidLoad() {
    HYBViewController::viewDidLoad();
    if (const auto& cover = launchView()) cover->setAlpha(1.0);
}

bool MainViewController::prefersStatusBarHidden() const {
    return ::prefersStatusBarHidden(*this);
}

ui::StatusBar::Style MainViewController::preferredStatusBarStyle() const {
    return ::preferredStatusBarStyle(*this);
}
