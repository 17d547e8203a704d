#pragma once

#include "bridge/HYBViewController.h"

// The application's root view controller: the host's, with the launch cover shown from the
// start until the first page has loaded, and the status bar answers that the status bar
// plug-in sets.
class MainViewController : public HYBViewController {
public:
    void viewDidLoad() override;
    bool prefersStatusBarHidden() const override;
    ui::StatusBar::Style preferredStatusBarStyle() const override;
};
