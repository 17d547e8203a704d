#include "platform/ui/Storyboard.h"

#include "platform/ns/Bundle.h"
#include "platform/ns/Log.h"
#include "platform/ui/InterfaceFile.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"

namespace ui {

std::shared_ptr<ViewController> Storyboard::instantiateInitialViewController() const {
    auto controller = ViewController::create();
    auto bundle = ns::Bundle::mainBundle();
    if (!bundle || !bundle->pathForResource(name_, InterfaceFile::kFileExtension)) {
        return controller;
    }
    auto contents = InterfaceFile::loadNamed(name_, *bundle, controller);
    if (!contents) {
        ns::nslog("The storyboard \"%@\" cannot be loaded: %@", name_,
                  contents.error().localizedDescription());
        return controller;
    }
    for (const auto& object : contents->topLevelObjects) {
        if (auto view = std::dynamic_pointer_cast<View>(object))
            controller->view()->addSubview(view);
    }
    return controller;
}

}  // namespace ui
