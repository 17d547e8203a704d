#include "sdk/messaging/NEBMessagingCheckinPreferences.h"

#include "sdk/messaging/NEBMessagingUtilities.h"

bool NEBMessagingCheckinPreferences::hasValidCheckinInfo() const {
    return !deviceID.empty() && !secretToken.empty() &&
           NEBMessagingCurrentTimeMillis() - lastCheckinTimestampMillis < kValidityMillis;
}
