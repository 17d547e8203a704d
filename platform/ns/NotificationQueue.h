#pragma once

#include <memory>

#include "platform/ns/Notification.h"

namespace ns {

class NotificationCenter;

// Holds notifications back and posts them later on the main run loop, dropping repeats.
// Usable from any thread; queued notifications are posted on the main thread.
class NotificationQueue {
public:
    enum class PostingStyle {
        WhenIdle = 1,  // on a later turn of the main run loop, after the work already there
        ASAP = 2,      // at the end of the current turn of the main run loop
        Now = 3,       // at once, on the calling thread, after coalescing
    };
    // Which queued notifications count as repeats of another.
    enum Coalescing : unsigned {
        CoalescingNone = 0,
        CoalescingOnName = 1,
        CoalescingOnSender = 2,  // same sender object (identity)
    };

    // The queue of the main run loop, posting to the default center.
    static NotificationQueue& defaultQueue();

    explicit NotificationQueue(NotificationCenter& center);
    NotificationQueue(const NotificationQueue&) = delete;
    NotificationQueue& operator=(const NotificationQueue&) = delete;

    // While a matching notification waits, a new one is dropped (Now: the waiting ones are
    // dropped and the new one posted).
    void enqueue(Notification notification, PostingStyle style,
                 unsigned coalesceMask = CoalescingOnName | CoalescingOnSender);
    // Drops the waiting notifications that match by the mask (CoalescingNone matches none).
    void dequeueNotificationsMatching(const Notification& notification, unsigned coalesceMask);

private:
    // Shared with the scheduled posts, which do nothing once the queue is gone.
    struct State;
    static void postWaiting(const std::shared_ptr<State>& state, uint64_t id);

    std::shared_ptr<State> state_;
};

}  // namespace ns
