#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/Queue.h"

// A one-shot timer on a queue. Arming replaces the pending firing; a firing that was replaced
// or cancelled before it came due never runs, even when its delayed task is already queued.
// Going away cancels. Any thread may arm or cancel.
class NEBAAlarm {
public:
    explicit NEBAAlarm(dispatch::Queue& queue);
    ~NEBAAlarm();
    NEBAAlarm(const NEBAAlarm&) = delete;
    NEBAAlarm& operator=(const NEBAAlarm&) = delete;

    void runAfterDelay(double seconds, std::function<void()> block);
    void cancel();
    // Seconds since 1970 at which the pending firing is due; none when nothing is pending.
    std::optional<double> scheduledTimestamp() const;

private:
    struct State {
        dispatch::Mutex mutex;
        uint64_t generation GUARDED_BY(mutex) = 0;
        std::optional<double> scheduledTimestamp GUARDED_BY(mutex);
    };
    dispatch::Queue& queue_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};
