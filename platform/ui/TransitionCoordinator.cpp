#include "platform/ui/TransitionCoordinator.h"

#include "platform/dispatch/RunLoop.h"

namespace ui {

void TransitionCoordinator::transition(Size size,
                                       const std::function<void(TransitionCoordinator&)>& announce,
                                       const std::function<void()>& resize) {
    TransitionCoordinator coordinator(size);
    announce(coordinator);
    resize();
    coordinator.runAnimations();
    coordinator.scheduleCompletions();
}

bool TransitionCoordinator::animateAlongsideTransition(std::function<void()> animation,
                                                       std::function<void()> completion) {
    if (animation) animations_.push_back(std::move(animation));
    if (completion) completions_.push_back(std::move(completion));
    return true;
}

void TransitionCoordinator::runAnimations() {
    auto animations = std::move(animations_);
    for (auto& a : animations) a();
}

void TransitionCoordinator::scheduleCompletions() {
    if (completions_.empty()) return;
    dispatch::RunLoop::main().post([completions = std::move(completions_)] {
        for (auto& c : completions) c();
    });
}

}  // namespace ui
