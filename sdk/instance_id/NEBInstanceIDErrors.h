#pragma once

#include <cstdint>

#include "platform/ns/Error.h"

inline constexpr const char* kNEBInstanceIDDomain = "com.nebula.iid";
inline constexpr const char* kNEBInstanceIDConfigurationDomain = "com.nebula.instanceid";
inline constexpr const char* kNEBInstanceIDMissingCheckinMessage =
    "Missing device credentials. Retry later.";

// Instance identity's error codes (domain "com.nebula.iid").
enum NEBInstanceIDErrorCode : int64_t {
    kNEBInstanceIDErrorCodeUnknown = 0,
    kNEBInstanceIDErrorCodePending = 5,
    kNEBInstanceIDErrorCodeInvalidRequest = 6,
    kNEBInstanceIDErrorCodeMissingDeviceID = 7,
    kNEBInstanceIDErrorCodeMissingCheckin = 501,
    kNEBInstanceIDErrorCodeTokenNotStored = 502,
    kNEBInstanceIDErrorCodeMissingAPNSToken = 1001,
    kNEBInstanceIDErrorCodeMissingAPNSServerType = 1002,
    kNEBInstanceIDErrorCodeInvalidAuthorizedEntity = 1003,
    kNEBInstanceIDErrorCodeInvalidScope = 1004,
    kNEBInstanceIDErrorCodeInvalidStart = 1005,
    kNEBInstanceIDErrorCodeInvalidKeyPair = 1006,
    kNEBInstanceIDErrorCodeDeleteAllFailed = 1007,
    kNEBInstanceIDErrorCodeMissingKeyPair = 2001,
    kNEBInstanceIDErrorCodeInvalidKeyPairTags = 2002,
    kNEBInstanceIDErrorCodeInvalidKeyPairCreationTime = 2005,
};

// An error of the domain with a bare code; code 501 carries {"msg": the missing-check-in text}.
ns::Error NEBInstanceIDErrorWithCode(int64_t code);
ns::Error NEBInstanceIDErrorMissingCheckin();
