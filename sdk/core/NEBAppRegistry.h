#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/SharedInstance.h"

class NEBApp;
class NEBLogbookLogger;
class NEBServices;

// The apps configured in this launch of the program, the uploader they report to and the
// services the SDK's parts stand on. NEBApp keeps it; a new launch starts with none.
class NEBAppRegistry {
public:
    static NEBAppRegistry& shared() { return ns::SharedInstance<NEBAppRegistry>::get(); }

    dispatch::RecursiveMutex lock;
    std::shared_ptr<NEBApp> defaultApp GUARDED_BY(lock);
    std::optional<std::map<std::string, std::shared_ptr<NEBApp>>> apps GUARDED_BY(lock);
    std::shared_ptr<NEBLogbookLogger> logbook GUARDED_BY(lock);
    std::shared_ptr<const NEBServices> services GUARDED_BY(lock);

private:
    friend class ns::SharedInstance<NEBAppRegistry>;
    NEBAppRegistry() = default;
};
