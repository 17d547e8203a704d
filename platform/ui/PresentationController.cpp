#include "platform/ui/PresentationController.h"

#include "platform/ui/ViewController.h"

namespace ui {

std::shared_ptr<ViewController> PresentationController::presentedViewController() const {
    return std::static_pointer_cast<ViewController>(presented_.weak_from_this().lock());
}

bool PresentationController::dismissByUser() {
    return dismiss(false);
}

bool PresentationController::closeByUser() {
    return dismiss(true);
}

bool PresentationController::dismiss(bool anyStyle) {
    auto presented = presentedViewController();
    if (!presented) return false;
    auto presenter = presented->presentingViewController();
    if (!presenter || presenter->presentedViewController() != presented) return false;
    auto style = presented->modalPresentationStyle();
    if (!anyStyle && style != ModalPresentationStyle::PageSheet &&
        style != ModalPresentationStyle::FormSheet && style != ModalPresentationStyle::Automatic) {
        return false;
    }
    auto d = delegate();
    if (d && !d->presentationControllerShouldDismiss(*this)) return false;
    if (d) d->presentationControllerWillDismiss(*this);
    std::weak_ptr<ViewController> weakPresented = presented;
    presenter->dismissViewController(true, [weakPresented, d] {
        auto p = weakPresented.lock();
        if (p && d) d->presentationControllerDidDismiss(p->presentationController());
    });
    return true;
}

}  // namespace ui
