#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/ns/SharedInstance.h"

class NEBApp;
class NEBLogbookLogger;
class NEBServices;

// The apps configured in this launch of the program, the uploader they report to and the
// services the SDK's parts stand on. NEBApp keeps it; a new launch starts with none.
class NEBAppRegistry {
public:
    static NEBAppRegistry& shared() { return ns::SharedInstance<NEBAppRegistry>::get(); }

    std::recursive_mutex lock;
    std::shared_ptr<NEBApp> defaultApp;
    std::optional<std::map<std::string, std::shared_ptr<NEBApp>>> apps;
    std::shared_ptr<NEBLogbookLogger> logbook;
    std::shared_ptr<const NEBServices> services;

private:
    friend class ns::SharedInstance<NEBAppRegistry>;
    NEBAppRegistry() = default;
};
