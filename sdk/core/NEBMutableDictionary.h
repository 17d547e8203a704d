#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/dispatch/Queue.h"
#include "platform/ns/Format.h"

inline constexpr const char* kNEBMutableDictionaryQueueLabel = "NEBMutableDictionary";

// A dictionary from text keys to values that any thread may use: every access runs on the
// dictionary's own serial queue. Writes are queued and reads wait on the same queue, so a read
// issued after a write on one thread sees that write. A default-constructed value stands for
// "no object": reading an absent key answers it, and storing it removes the key.
//
// Calling a read from a task already running on the dictionary's queue is a programming
// fault; the queue reports it as an exception rather than deadlocking.
template <class V>
class NEBMutableDictionary {
public:
    NEBMutableDictionary()
        : queue_(dispatch::Queue::createSerial(kNEBMutableDictionaryQueueLabel)) {}
    NEBMutableDictionary(const NEBMutableDictionary&) = delete;
    NEBMutableDictionary& operator=(const NEBMutableDictionary&) = delete;

    V objectForKey(std::string_view key) const {
        return queue_->sync([&]() -> V {
            auto it = objects_->find(key);
            return it == objects_->end() ? V{} : it->second;
        });
    }
    V operator[](std::string_view key) const { return objectForKey(key); }

    size_t count() const {
        return queue_->sync([&] { return objects_->size(); });
    }

    void setObject(V object, std::string key) {
        queue_->async([objects = objects_, object = std::move(object), key = std::move(key)] {
            if (!isNil(object)) {
                (*objects)[key] = object;
            } else {
                objects->erase(key);
            }
        });
    }

    void removeObjectForKey(std::string key) {
        queue_->async([objects = objects_, key = std::move(key)] { objects->erase(key); });
    }

    void removeAllObjects() {
        queue_->async([objects = objects_] { objects->clear(); });
    }

    // "{ key = value; ... }" with each value's description where it has one.
    std::string description() const {
        return queue_->sync([&] {
            std::string text = "{";
            for (const auto& [key, value] : *objects_) {
                text += "\n    " + key + " = " + describe(value) + ";";
            }
            return text + (objects_->empty() ? "}" : "\n}");
        });
    }

private:
    using Map = std::map<std::string, V, std::less<>>;

    static bool isNil(const V& value) {
        if constexpr (requires { static_cast<bool>(value); }) {
            return !static_cast<bool>(value);
        } else {
            return value == V{};
        }
    }

    static std::string describe(const V& value) {
        if constexpr (requires { ns::FormatArg(value); }) {
            return ns::FormatArg(value).description();
        } else {
            return "<value>";
        }
    }

    std::shared_ptr<Map> objects_ = std::make_shared<Map>();
    std::shared_ptr<dispatch::Queue> queue_;
};
