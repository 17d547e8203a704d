#include "platform/net/URLProtocol.h"

#include <algorithm>
#include <vector>

#include "platform/dispatch/Mutex.h"

namespace net {

namespace {

struct Registry {
    dispatch::Mutex mutex;
    std::vector<URLProtocol::Class> classes GUARDED_BY(mutex);  // most recent last
};

Registry& registry() {
    static auto& r = *new Registry();
    return r;
}

void eraseLocked(Registry& r, std::type_index type) REQUIRES(r.mutex) {
    r.classes.erase(std::remove_if(r.classes.begin(), r.classes.end(),
                                   [&](const URLProtocol::Class& c) { return c.type == type; }),
                    r.classes.end());
}

}  // namespace

bool URLProtocol::registerClass(Class protocolClass) {
    auto& r = registry();
    dispatch::Lock lock(r.mutex);
    eraseLocked(r, protocolClass.type);
    r.classes.push_back(std::move(protocolClass));
    return true;
}

void URLProtocol::unregisterClass(std::type_index type) {
    auto& r = registry();
    dispatch::Lock lock(r.mutex);
    eraseLocked(r, type);
}

std::optional<URLProtocol::Class> URLProtocol::classForRequest(const URLRequest& request) {
    std::vector<Class> classes;
    {
        auto& r = registry();
        dispatch::Lock lock(r.mutex);
        classes = r.classes;
    }
    // Asked without the lock: a protocol may look at the registry from its class operations.
    for (auto it = classes.rbegin(); it != classes.rend(); ++it) {
        if (it->canInitWithRequest(request)) return *it;
    }
    return std::nullopt;
}

const ns::Value* URLProtocol::propertyForKey(std::string_view key, const URLRequest& request) {
    const auto& properties = request.protocolProperties();
    auto it = properties.find(key);
    return it == properties.end() ? nullptr : &it->second;
}

void URLProtocol::setProperty(ns::Value value, std::string key, URLRequest& request) {
    request.mutableProtocolProperties()[std::move(key)] = std::move(value);
}

void URLProtocol::removePropertyForKey(std::string_view key, URLRequest& request) {
    auto& properties = request.mutableProtocolProperties();
    if (auto it = properties.find(key); it != properties.end()) properties.erase(it);
}

}  // namespace net
