#pragma once

#include <functional>
#include <vector>

#include "platform/ui/Geometry.h"

namespace ui {

// Carries a size transition (a rotation) to the view controllers: what they ask to run
// alongside it runs once the new size is in place, their completions on the next turn.
class TransitionCoordinator {
public:
    explicit TransitionCoordinator(Size size) : size_(size) {}
    TransitionCoordinator(const TransitionCoordinator&) = delete;
    TransitionCoordinator& operator=(const TransitionCoordinator&) = delete;

    // Carries one transition to `size`: `announce` tells the controllers (their
    // viewWillTransitionToSize), `resize` gives the views their new size, then what they asked
    // to run alongside runs, and their completions on the next turn.
    static void transition(Size size, const std::function<void(TransitionCoordinator&)>& announce,
                           const std::function<void()>& resize);

    Size targetSize() const { return size_; }
    // Always true: the headless platform runs every alongside animation.
    bool animateAlongsideTransition(std::function<void()> animation,
                                    std::function<void()> completion = {});

private:
    void runAnimations();
    void scheduleCompletions();

    Size size_;
    std::vector<std::function<void()>> animations_;
    std::vector<std::function<void()>> completions_;
};

}  // namespace ui
