#include "app/MainViewController.h"

#include "platform/ui/View.h"

void MainViewController::viewDidLoad() {
    HYBViewController::viewDidLoad();
    if (const auto& cover = launchView()) cover->setAlpha(1.0);
}
