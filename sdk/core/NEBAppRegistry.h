#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/ns/SharedInstance.h"

class NEBApp;
class NEBLogbookLogger;

// The apps configured in this launch of the program, and the uploader they report to. NEBApp
// keeps it; a new launch starts with none.
class NEBAppRegistry {
public:
    static NEBAppRegistry& shared() { return ns::SharedInstance<NEBAppRegistry>::get(); }

    std::recursive_mutex lock;
    std::shared_ptr<NEBApp> defaultApp;
    std::optional<std::map<std::string, std::shared_ptr<NEBApp>>> apps;
    std::shared_ptr<NEBLogbookLogger> logbook;

private:
    friend class ns::SharedInstance<NEBAppRegistry>;
    NEBAppRegistry() = default;
};
