#pragma once

namespace wk {

// The web view's own error domain and codes.
inline constexpr const char* kErrorDomain = "WKErrorDomain";
enum ErrorCode : int {
    kErrorUnknown = 1,
    kErrorWebContentProcessTerminated = 2,
    kErrorWebViewInvalidated = 3,
    kErrorJavaScriptExceptionOccurred = 4,
    kErrorJavaScriptResultTypeIsUnsupported = 5,
};

// Load failures are reported in the URL loading system's domain.
inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";
inline constexpr const char* kURLErrorFailingURLStringErrorKey = "NSErrorFailingURLStringKey";
enum URLErrorCode : int {
    kURLErrorCancelled = -999,
    kURLErrorUnsupportedURL = -1002,
    kURLErrorFileDoesNotExist = -1100,
};

}  // namespace wk
