#pragma once

#include <cstdint>

// Errors of the HTTP client: domain, codes and the user-info key of their context text.
inline constexpr const char* kNEBNetworkErrorDomain = "com.nebula.network.ErrorDomain";
inline constexpr const char* kNEBNetworkErrorContext = "Context";
inline constexpr int64_t kNEBErrorCodeNetworkInvalidURL = 1;
inline constexpr int64_t kNEBErrorCodeNetworkSessionTaskCreation = 2;
inline constexpr int64_t kNEBErrorCodeNetworkPayloadCompression = 3;
inline constexpr int64_t kNEBErrorCodeNetworkRequestCreation = 4;
inline constexpr int64_t kNEBErrorCodeNetworkEmptyResponse = 5;

// Background sessions carry this prefix, then "-" and a UUID.
inline constexpr const char* kNEBNetworkBackgroundSessionConfigIDPrefix =
    "com.nebula.network.background-upload";
// Application Support + these two levels holds the bodies of background uploads.
inline constexpr const char* kNEBNetworkApplicationSupportSubdirectory = "Nebula/Network";
inline constexpr const char* kNEBNetworkTempDirectoryName = "NEBNetworkTemporaryDirectory";
inline constexpr const char* kNEBNetworkTempFolderPrefix = "NEBUpload_temp_";
// Upload bodies left behind longer than this (in either direction of the clock) are removed.
inline constexpr double kNEBNetworkTempFolderExpireTime = 3600.0;
inline constexpr double kNEBNetworkTimeOutInterval = 60.0;

// Levels of the HTTP client's log lines.
enum class NEBNetworkLogLevel : int { Error = 0, Warning = 1, Info = 2, Debug = 3 };
