#include "plugins/media_browser/HYBAudioNavigationController.h"

ui::InterfaceOrientationMask HYBAudioNavigationController::supportedInterfaceOrientations() const {
    auto top = topViewController();
    return top ? top->supportedInterfaceOrientations()
               : ui::NavigationController::supportedInterfaceOrientations();
}
