#pragma once

#include <deque>
#include <functional>
#include <memory>

// Steps that run one after the other, in the order they were added, each saying when it is
// done: at once, or later, once the store has answered. What waits on the store thus keeps
// its place among what does not. Main thread only.
class NEBMessagingInOrder {
public:
    using Step = std::function<void(std::function<void()> done)>;

    void add(Step step);
    bool idle() const { return !state_->running && state_->steps.empty(); }

private:
    struct State {
        std::deque<Step> steps;
        bool running = false;
    };
    static void run(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_ = std::make_shared<State>();
};
