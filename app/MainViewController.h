#pragma once

#include "bridge/HYBViewController.h"

// The application's root view controller: the host's, with the launch cover shown from the
// start until the first page has loaded.
class MainViewController : public HYBViewController {
public:
    void viewDidLoad() override;
};
