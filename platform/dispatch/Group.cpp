#include "platform/dispatch/Group.h"

#include <condition_variable>
#include <utility>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Exception.h"

namespace dispatch {

struct Group::State {
    Mutex mutex;
    std::condition_variable empty;
    long count GUARDED_BY(mutex) = 0;
    std::vector<std::pair<std::weak_ptr<Queue>, Task>> notifications GUARDED_BY(mutex);
};

Group::Group() : state_(std::make_shared<State>()) {}

void Group::enter() {
    Lock lock(state_->mutex);
    ++state_->count;
}

void Group::leave() {
    std::vector<std::pair<std::weak_ptr<Queue>, Task>> due;
    {
        Lock lock(state_->mutex);
        if (state_->count == 0) {
            throw ns::Exception(ns::kInternalInconsistencyException,
                                "Unbalanced call to Group::leave()");
        }
        if (--state_->count > 0) return;
        due.swap(state_->notifications);
        state_->empty.notify_all();
    }
    for (auto& [queue, fn] : due) {
        if (auto q = queue.lock()) q->async(std::move(fn));
    }
}

void Group::async(Queue& queue, Task fn) {
    // Leaves when the task is gone, whether it ran or its queue dropped it.
    class Member {
    public:
        explicit Member(Group group) : group_(std::move(group)) { group_.enter(); }
        ~Member() { group_.leave(); }
        Member(const Member&) = delete;
        Member& operator=(const Member&) = delete;

    private:
        Group group_;
    };
    auto member = std::make_shared<Member>(*this);
    queue.async([member = std::move(member), fn = std::move(fn)] { fn(); });
}

void Group::notify(Queue& queue, Task fn) {
    {
        Lock lock(state_->mutex);
        if (state_->count > 0) {
            state_->notifications.emplace_back(queue.weak_from_this(), std::move(fn));
            return;
        }
    }
    queue.async(std::move(fn));
}

void Group::wait() {
    Lock lock(state_->mutex);
    while (state_->count != 0) lock.wait(state_->empty);
}

bool Group::wait(Duration timeout) {
    if (timeout >= kForever) {
        wait();
        return true;
    }
    auto deadline = std::chrono::steady_clock::now() + timeout;
    Lock lock(state_->mutex);
    while (state_->count != 0) {
        if (lock.waitUntil(state_->empty, deadline) == std::cv_status::timeout) break;
    }
    return state_->count == 0;
}

}  // namespace dispatch
