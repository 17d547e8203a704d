#include "platform/ns/NotificationQueue.h"

#include <algorithm>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/NotificationCenter.h"

namespace ns {
namespace {

bool matches(const Notification& a, const Notification& b, unsigned mask) {
    if (mask == NotificationQueue::CoalescingNone) return false;
    if ((mask & NotificationQueue::CoalescingOnName) && a.name != b.name) return false;
    if ((mask & NotificationQueue::CoalescingOnSender) && a.object.get() != b.object.get()) {
        return false;
    }
    return true;
}

}  // namespace

struct NotificationQueue::State {
    struct Entry {
        Notification notification;
        uint64_t id;
    };
    explicit State(NotificationCenter& c) : center(c) {}

    NotificationCenter& center;
    dispatch::Mutex mutex;
    std::vector<Entry> waiting GUARDED_BY(mutex);
    uint64_t nextId GUARDED_BY(mutex) = 1;
};

NotificationQueue& NotificationQueue::defaultQueue() {
    static auto* queue = new NotificationQueue(NotificationCenter::defaultCenter());
    return *queue;
}

NotificationQueue::NotificationQueue(NotificationCenter& center)
    : state_(std::make_shared<State>(center)) {}

void NotificationQueue::enqueue(Notification notification, PostingStyle style,
                                unsigned coalesceMask) {
    auto& s = *state_;
    if (style == PostingStyle::Now) {
        dequeueNotificationsMatching(notification, coalesceMask);
        s.center.post(notification);
        return;
    }
    uint64_t id;
    {
        dispatch::Lock lock(s.mutex);
        for (const auto& entry : s.waiting) {
            if (matches(entry.notification, notification, coalesceMask)) return;
        }
        id = s.nextId++;
        s.waiting.push_back({std::move(notification), id});
    }
    std::weak_ptr<State> weak = state_;
    auto post = [weak, id] {
        if (auto state = weak.lock()) postWaiting(state, id);
    };
    if (style == PostingStyle::ASAP) {
        dispatch::RunLoop::main().postAtEndOfTurn(std::move(post));
    } else {
        dispatch::RunLoop::main().post(std::move(post));
    }
}

void NotificationQueue::dequeueNotificationsMatching(const Notification& notification,
                                                     unsigned coalesceMask) {
    auto& s = *state_;
    dispatch::Lock lock(s.mutex);
    std::erase_if(s.waiting, [&](const State::Entry& entry) {
        return matches(entry.notification, notification, coalesceMask);
    });
}

void NotificationQueue::postWaiting(const std::shared_ptr<State>& state, uint64_t id) {
    Notification notification;
    {
        dispatch::Lock lock(state->mutex);
        auto it = std::find_if(state->waiting.begin(), state->waiting.end(),
                               [id](const State::Entry& e) { return e.id == id; });
        if (it == state->waiting.end()) return;  // dequeued meanwhile
        notification = std::move(it->notification);
        state->waiting.erase(it);
    }
    state->center.post(notification);
}

}  // namespace ns
