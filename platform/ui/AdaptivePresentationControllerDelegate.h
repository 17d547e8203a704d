#pragma once

namespace ui {

class PresentationController;

// Told when the user dismisses a presented sheet by swiping it down; every operation optional.
class AdaptivePresentationControllerDelegate {
public:
    virtual ~AdaptivePresentationControllerDelegate() = default;
    virtual bool presentationControllerShouldDismiss(PresentationController&) { return true; }
    virtual void presentationControllerWillDismiss(PresentationController&) {}
    virtual void presentationControllerDidDismiss(PresentationController&) {}
};

}  // namespace ui
