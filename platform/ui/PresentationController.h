#pragma once

#include <memory>

#include "platform/ui/AdaptivePresentationControllerDelegate.h"

namespace ui {

class ViewController;

// Manages the presentation of one view controller; its delegate hears of user dismissals.
class PresentationController {
public:
    explicit PresentationController(ViewController& presented) : presented_(presented) {}
    PresentationController(const PresentationController&) = delete;
    PresentationController& operator=(const PresentationController&) = delete;

    std::shared_ptr<ViewController> presentedViewController() const;
    std::shared_ptr<AdaptivePresentationControllerDelegate> delegate() const {
        return delegate_.lock();
    }
    void setDelegate(std::weak_ptr<AdaptivePresentationControllerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    // The user swipes a presented sheet (page sheet, form sheet or the automatic style) down.
    // The delegate may refuse; otherwise it hears "will", the sheet is dismissed, animated,
    // and the delegate hears "did" when the dismissal completes. Answers whether it started.
    bool dismissByUser();
    // The user closes the presented screen in a way every style allows on a desktop (its
    // window's close button, Escape): as dismissByUser, whatever the presentation style.
    bool closeByUser();

private:
    bool dismiss(bool anyStyle);

    ViewController& presented_;  // the owner; lives exactly as long
    std::weak_ptr<AdaptivePresentationControllerDelegate> delegate_;
};

}  // namespace ui
