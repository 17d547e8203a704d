#pragma once

#include <cstdint>
#include <string>

// The device check-in credentials that instance identity holds, as messaging reads them.
struct NEBMessagingCheckinPreferences {
    static constexpr int64_t kValidityMillis = 86400000;

    std::string deviceID;
    std::string secretToken;
    std::string versionInfo;
    std::string digest;
    int64_t lastCheckinTimestampMillis = 0;

    // Both parts present and the check-in younger than a day.
    bool hasValidCheckinInfo() const;
};
