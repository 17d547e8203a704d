#pragma once

#include <optional>

#include "platform/ns/Result.h"
#include "sdk/instance_id/NEBInstanceIDCheckinPreferences.h"

// Where the check-in service keeps what it received.
class NEBInstanceIDCheckinCache {
public:
    virtual ~NEBInstanceIDCheckinCache() = default;
    virtual ns::Status saveCheckinPreferences(
        const NEBInstanceIDCheckinPreferences& preferences) = 0;
    virtual std::optional<NEBInstanceIDCheckinPreferences> cachedCheckinPreferences() = 0;
    virtual ns::Status removeCheckinPreferences() = 0;
};
