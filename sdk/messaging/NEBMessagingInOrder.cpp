#include "sdk/messaging/NEBMessagingInOrder.h"

#include "platform/dispatch/QueueContract.h"

void NEBMessagingInOrder::add(Step step) {
    HYB_EXPECT_MAIN_THREAD();
    state_->steps.push_back(std::move(step));
    run(state_);
}

void NEBMessagingInOrder::run(const std::shared_ptr<State>& state) {
    // Steps done at once run on in this loop rather than ever deeper in the stack.
    while (!state->running && !state->steps.empty()) {
        Step step = std::move(state->steps.front());
        state->steps.pop_front();
        state->running = true;
        auto calling = std::make_shared<bool>(true);
        std::weak_ptr<State> weak = state;
        step([weak, calling] {
            auto held = weak.lock();
            if (!held || !held->running) return;
            held->running = false;
            if (!*calling) run(held);
        });
        *calling = false;
    }
}
