#pragma once

#include <memory>

#include "platform/dispatch/Queue.h"

namespace dispatch {

// Tracks a set of tasks and runs notifications, or releases waiters, once all have left.
// Copies share one group, so a task can hold the group it belongs to.
class Group {
public:
    Group();

    void enter();
    // Throws ns::Exception (NSInternalInconsistencyException) when no task is inside.
    void leave();
    // Runs fn on the queue as a member of the group. A task that a destroyed serial queue
    // drops leaves the group all the same.
    void async(Queue& queue, Task fn);
    // Runs fn on the queue once the group is empty (at once when it is empty now). Dropped
    // when the queue is destroyed before then.
    void notify(Queue& queue, Task fn);
    // Blocks until the group is empty (real waiting: for hand-offs between threads).
    void wait();
    // As wait(), giving up after `timeout`; true when the group became empty.
    bool wait(Duration timeout);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace dispatch
