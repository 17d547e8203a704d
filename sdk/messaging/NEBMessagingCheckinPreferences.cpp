#include "sdk/messaging/NEBMessagingCheckinPreferences.h"

#include <cmath>

#include "platform/dispatch/Clock.h"

bool NEBMessagingCheckinPreferences::hasValidCheckinInfo() const {
    auto now = static_cast<int64_t>(std::floor(dispatch::Clock::current().wallTime() * 1000));
    return !deviceID.empty() && !secretToken.empty() &&
           now - lastCheckinTimestampMillis < kValidityMillis;
}
