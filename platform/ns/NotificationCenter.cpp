#include "platform/ns/NotificationCenter.h"

#include <atomic>
#include <exception>

#include "platform/dispatch/Queue.h"
#include "platform/ns/Log.h"

namespace ns {

struct NotificationCenter::Registration {
    ObserverToken token = 0;
    const void* owner = nullptr;
    std::string name;
    const Object* sender = nullptr;  // identity of the sender filter; null: any
    std::weak_ptr<Object> senderAlive;
    Observer fn;
    std::shared_ptr<dispatch::Queue> queue;
    std::atomic<bool> removed{false};

    bool matches(const Notification& n) const {
        if (!name.empty() && name != n.name) return false;
        if (!sender) return true;
        return n.object.get() == sender && !senderAlive.expired();
    }
};

NotificationCenter& NotificationCenter::defaultCenter() {
    static auto* center = new NotificationCenter;  // posts may happen during exit
    return *center;
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(
    std::string_view name, const std::shared_ptr<Object>& object, Observer fn,
    std::shared_ptr<dispatch::Queue> queue) {
    return add(nullptr, name, object, std::move(fn), std::move(queue));
}

void NotificationCenter::addObserver(const void* observer, std::string_view name,
                                     const std::shared_ptr<Object>& object, Observer fn) {
    add(observer, name, object, std::move(fn), nullptr);
}

NotificationCenter::ObserverToken NotificationCenter::add(const void* owner, std::string_view name,
                                                          const std::shared_ptr<Object>& object,
                                                          Observer fn,
                                                          std::shared_ptr<dispatch::Queue> queue) {
    auto r = std::make_shared<Registration>();
    r->owner = owner;
    r->name = std::string(name);
    r->sender = object.get();
    r->senderAlive = object;
    r->fn = std::move(fn);
    r->queue = std::move(queue);
    dispatch::Lock lock(mutex_);
    r->token = nextToken_++;
    registrations_.push_back(r);
    return r->token;
}

void NotificationCenter::removeObserver(ObserverToken token) {
    dispatch::Lock lock(mutex_);
    std::erase_if(registrations_, [token](const auto& r) {
        if (r->token != token) return false;
        r->removed = true;
        return true;
    });
}

void NotificationCenter::removeObserver(const void* observer) {
    removeObserver(observer, {}, nullptr);
}

void NotificationCenter::removeObserver(const void* observer, std::string_view name,
                                        const Object* object) {
    if (!observer) return;
    dispatch::Lock lock(mutex_);
    std::erase_if(registrations_, [&](const auto& r) {
        if (r->owner != observer) return false;
        if (!name.empty() && r->name != name) return false;
        if (object && r->sender != object) return false;
        r->removed = true;
        return true;
    });
}

void NotificationCenter::deliver(const Registration& r, const Notification& n) {
    try {
        r.fn(n);
    } catch (const std::exception& e) {
        Log::write(LogLevel::Error, "An observer of " + n.name + " threw: " + e.what());
    } catch (...) {
        Log::write(LogLevel::Error, "An observer of " + n.name + " threw an unknown exception");
    }
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<std::shared_ptr<Registration>> matching;
    {
        dispatch::Lock lock(mutex_);
        for (const auto& r : registrations_) {
            if (r->matches(notification)) matching.push_back(r);
        }
    }
    for (const auto& r : matching) {
        if (r->removed) continue;
        if (r->queue) {
            r->queue->async([r, notification] {
                if (!r->removed) deliver(*r, notification);
            });
        } else {
            deliver(*r, notification);
        }
    }
}

void NotificationCenter::post(std::string name, std::shared_ptr<Object> object,
                              Dictionary userInfo) {
    post(Notification{std::move(name), std::move(object), std::move(userInfo)});
}

}  // namespace ns
