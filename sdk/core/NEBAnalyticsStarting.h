#pragma once

#include <memory>

#include "sdk/core/NEBAnalyticsConfiguration.h"
#include "sdk/core/NEBOptions.h"
#include "sdk/core/NEBServices.h"

// The class operation by which the core starts analytics. Analytics registers a class named
// "NEBAnalytics" whose operations include kNEBAnalyticsStartOperation and whose factory hands
// out the object that carries its class operations; the core finds it by name, so either part
// can be left out of a build.
inline constexpr const char* kNEBAnalyticsClassName = "NEBAnalytics";
inline constexpr const char* kNEBAnalyticsStartOperation = "startWithConfiguration:options:";

class NEBAnalyticsStarting {
public:
    virtual ~NEBAnalyticsStarting() = default;
    // Runs once per process; later calls do nothing. Analytics stands on the services the core
    // made.
    virtual void startWithConfiguration(std::shared_ptr<NEBAnalyticsConfiguration> configuration,
                                        std::shared_ptr<NEBOptions> options,
                                        std::shared_ptr<const NEBServices> services) = 0;
};
