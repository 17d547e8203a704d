#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ns/SharedInstance.h"
#include "platform/svc/AdvertisingIdentifierManager.h"

// The bridge to the device's advertising-identifier service, found by class name at run time:
// without one every answer is empty and limited tracking is unknown.
class NEBAASIdentifierManager {
public:
    static NEBAASIdentifierManager& sharedInstance();
    explicit NEBAASIdentifierManager(std::shared_ptr<svc::AdvertisingIdentifierManager> manager)
        : manager_(std::move(manager)) {}

    // The identifier as an upper-case UUID string; none without a manager or an identifier.
    std::optional<std::string> advertisingIdentifierString() const;
    // Whether the service is present, so that the limited-tracking answer is known.
    bool hasLimitedAdTracking() const { return manager_ != nullptr; }
    bool limitedAdTracking() const { return manager_ && !manager_->isAdvertisingTrackingEnabled(); }

private:
    friend class ns::SharedInstance<NEBAASIdentifierManager>;
    NEBAASIdentifierManager();

    std::shared_ptr<svc::AdvertisingIdentifierManager> manager_;
};
