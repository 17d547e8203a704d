#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/ns/Error.h"
#include "platform/ns/URL.h"

namespace net {

// The domain of URL-loading errors and the keys of their user info.
inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";
inline constexpr const char* kURLErrorFailingURLErrorKey = "NSErrorFailingURLKey";
inline constexpr const char* kURLErrorFailingURLStringErrorKey = "NSErrorFailingURLStringKey";
// Extra detail for people reading logs (the transport's own message).
inline constexpr const char* kDebugDescriptionErrorKey = "NSDebugDescription";

// The platform's codes, which callers compare against.
enum URLErrorCode : int64_t {
    kURLErrorUnknown = -1,
    kURLErrorCancelled = -999,
    kURLErrorBadURL = -1000,
    kURLErrorTimedOut = -1001,
    kURLErrorUnsupportedURL = -1002,
    kURLErrorCannotFindHost = -1003,
    kURLErrorCannotConnectToHost = -1004,
    kURLErrorNetworkConnectionLost = -1005,
    kURLErrorHTTPTooManyRedirects = -1007,
    kURLErrorNotConnectedToInternet = -1009,
    kURLErrorBadServerResponse = -1011,
    kURLErrorRequestBodyStreamExhausted = -1021,
    kURLErrorFileDoesNotExist = -1100,
    kURLErrorDataLengthExceedsMaximum = -1103,
    kURLErrorSecureConnectionFailed = -1200,
    kURLErrorServerCertificateUntrusted = -1202,
    kURLErrorCannotCreateFile = -3000,
    kURLErrorCannotWriteToFile = -3003,
};

// An error in kURLErrorDomain with the platform's description for the code and, when given,
// the failing URL (as text under both failing-URL keys) and a debug description.
ns::Error makeURLError(int64_t code, const std::optional<ns::URL>& failingURL = std::nullopt,
                       const std::string& debugDescription = {});

}  // namespace net
