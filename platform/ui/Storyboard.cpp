#include "platform/ui/Storyboard.h"

#include "platform/ui/ViewController.h"

namespace ui {

std::shared_ptr<ViewController> Storyboard::instantiateInitialViewController() const {
    return ViewController::create();
}

}  // namespace ui
