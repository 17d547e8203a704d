#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Notification.h"

namespace dispatch {
class Queue;
}

namespace ns {

// Delivers notifications to the observers registered for them. Usable from any thread.
//
// A post calls the matching observers synchronously on the posting thread, in registration
// order; an observer given a queue is called asynchronously on that queue instead. Observers
// may add and remove observers while being called: one removed during a post is not called
// afterwards, one added is first called by the next post. An exception thrown by an observer is
// logged and the post goes on.
class NotificationCenter {
public:
    using Observer = std::function<void(const Notification&)>;
    using ObserverToken = uint64_t;

    static NotificationCenter& defaultCenter();

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // An empty name matches every notification; a null object matches every sender, otherwise
    // only that sender (compared by identity; a sender that has gone matches nothing).
    ObserverToken addObserver(std::string_view name, const std::shared_ptr<Object>& object,
                              Observer fn, std::shared_ptr<dispatch::Queue> queue = nullptr);
    // Registers on behalf of `observer`, which removes its registrations before it goes.
    void addObserver(const void* observer, std::string_view name,
                     const std::shared_ptr<Object>& object, Observer fn);

    void removeObserver(ObserverToken token);
    // Every registration of `observer`; or only those of that name (empty: any) and sender
    // (null: any).
    void removeObserver(const void* observer);
    void removeObserver(const void* observer, std::string_view name, const Object* object);

    void post(const Notification& notification);
    void post(std::string name, std::shared_ptr<Object> object = nullptr, Dictionary userInfo = {});

private:
    struct Registration;
    ObserverToken add(const void* owner, std::string_view name,
                      const std::shared_ptr<Object>& object, Observer fn,
                      std::shared_ptr<dispatch::Queue> queue);
    static void deliver(const Registration& registration, const Notification& notification);

    dispatch::Mutex mutex_;
    std::vector<std::shared_ptr<Registration>> registrations_ GUARDED_BY(mutex_);
    ObserverToken nextToken_ GUARDED_BY(mutex_) = 1;
};

}  // namespace ns
