#include "sdk/analytics/NEBAAlarm.h"

#include "platform/dispatch/Clock.h"
#include "sdk/analytics/NEBAMonitor.h"

NEBAAlarm::NEBAAlarm(dispatch::Queue& queue) : queue_(queue) {}

NEBAAlarm::~NEBAAlarm() {
    cancel();
}

void NEBAAlarm::runAfterDelay(double seconds, std::function<void()> block) {
    if (!block) {
        NEBAMonitor::error("Tried to schedule an empty block");
        return;
    }
    cancel();
    uint64_t generation;
    {
        dispatch::Lock lock(state_->mutex);
        generation = ++state_->generation;
        state_->scheduledTimestamp = dispatch::Clock::current().wallTime() + seconds;
    }
    std::weak_ptr<State> weak = state_;
    auto fire = [weak, generation, block = std::move(block)] {
        auto state = weak.lock();
        if (!state) return;
        {
            dispatch::Lock lock(state->mutex);
            // Replaced or cancelled since this firing was queued.
            if (state->generation != generation) return;
            state->scheduledTimestamp.reset();
        }
        NEBAMonitor::debug("Timer fired");
        block();
    };
    if (seconds > 0)
        queue_.asyncAfter(dispatch::seconds(seconds), std::move(fire));
    else
        queue_.async(std::move(fire));
    NEBAMonitor::debug("Timer scheduled to fire in approx. (s)", {ns::Value(seconds)});
}

void NEBAAlarm::cancel() {
    dispatch::Lock lock(state_->mutex);
    if (!state_->scheduledTimestamp) return;
    NEBAMonitor::debug("Canceling active timer");
    ++state_->generation;
    state_->scheduledTimestamp.reset();
}

std::optional<double> NEBAAlarm::scheduledTimestamp() const {
    dispatch::Lock lock(state_->mutex);
    return state_->scheduledTimestamp;
}
