#pragma once

#include "platform/ui/NavigationController.h"

// The recorder screen's navigation stack; it turns as its top screen allows.
class HYBAudioNavigationController : public ui::NavigationController {
public:
    ui::InterfaceOrientationMask supportedInterfaceOrientations() const override;
};
