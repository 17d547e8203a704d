#pragma once

#include <optional>

#include "platform/ns/Object.h"
#include "platform/ns/UUID.h"

namespace svc {

// The class name under which an advertising-identifier service registers with the class
// registry; its factory hands out the one shared manager. A Linux desktop has no such service,
// so the host registers none and callers take the path of its absence.
inline constexpr const char* kAdvertisingIdentifierManagerClassName = "ASIdentifierManager";
// The operations the registered class lists.
inline constexpr const char* kAdvertisingSharedManagerOperation = "sharedManager";
inline constexpr const char* kAdvertisingTrackingEnabledOperation = "isAdvertisingTrackingEnabled";
inline constexpr const char* kAdvertisingIdentifierOperation = "advertisingIdentifier";

// The device's resettable advertising identifier and the user's choice to limit ad tracking.
class AdvertisingIdentifierManager : public virtual ns::Object {
public:
    ~AdvertisingIdentifierManager() override = default;
    virtual bool isAdvertisingTrackingEnabled() const = 0;
    // None when the device has no identifier to give (tracking unavailable).
    virtual std::optional<ns::UUID> advertisingIdentifier() const = 0;
};

}  // namespace svc
