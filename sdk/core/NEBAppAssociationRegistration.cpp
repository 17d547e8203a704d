#include "sdk/core/NEBAppAssociationRegistration.h"

#include <map>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Exception.h"
#include "platform/ns/Format.h"

namespace {

// A key whose object is being made; asking for it again from inside its block is re-entry.
struct Slot {
    bool inCreation = false;
    std::shared_ptr<ns::Object> object;
};

struct HostEntry {
    std::weak_ptr<ns::Object> host;
    std::map<std::string, Slot, std::less<>> slots;
};

struct Registry {
    dispatch::RecursiveMutex mutex;
    std::map<const ns::Object*, HostEntry> hosts GUARDED_BY(mutex);

    // Entries of hosts that have gone; a new host at a recycled address starts empty.
    void dropDeparted() REQUIRES(mutex) {
        std::erase_if(hosts, [](const auto& entry) { return entry.second.host.expired(); });
    }
};

Registry& registry() {
    static auto& r = *new Registry();
    return r;
}

}  // namespace

std::shared_ptr<ns::Object> NEBAppAssociationRegistration::registeredObjectWithHost(
    const std::shared_ptr<ns::Object>& host, std::string_view key,
    const CreationBlock& creationBlock) {
    auto& r = registry();
    dispatch::ScopedLock lock(r.mutex);
    r.dropDeparted();
    auto& entry = r.hosts[host.get()];
    entry.host = host;
    if (auto it = entry.slots.find(key); it != entry.slots.end()) {
        if (it->second.inCreation) {
            throw ns::Exception(
                "Reentering registeredObjectWithHost:key:creationBlock: not allowed",
                ns::format("host: %@ key: %@", host, key));
        }
        return it->second.object;
    }
    std::string name(key);
    entry.slots[name].inCreation = true;
    std::shared_ptr<ns::Object> object;
    try {
        object = creationBlock ? creationBlock() : nullptr;
    } catch (...) {
        r.hosts[host.get()].slots.erase(name);  // a failed creation leaves the key free
        throw;
    }
    // The block may have registered other keys of this host: look the entry up afresh.
    auto& slots = r.hosts[host.get()].slots;
    if (object) {
        slots[name] = Slot{false, object};
    } else {
        slots.erase(name);
    }
    return object;
}
