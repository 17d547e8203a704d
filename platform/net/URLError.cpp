#include "platform/net/URLError.h"

#include "platform/ns/Format.h"

namespace net {

namespace {

std::string descriptionFor(int64_t code, const std::optional<ns::URL>& url) {
    switch (code) {
        case kURLErrorCancelled:
            return "cancelled";
        case kURLErrorBadURL:
            return "bad URL";
        case kURLErrorTimedOut:
            return "The request timed out.";
        case kURLErrorUnsupportedURL:
            return "unsupported URL";
        case kURLErrorCannotFindHost:
            return "A server with the specified hostname could not be found.";
        case kURLErrorCannotConnectToHost:
            return "Could not connect to the server.";
        case kURLErrorNetworkConnectionLost:
            return "The network connection was lost.";
        case kURLErrorHTTPTooManyRedirects:
            return "too many HTTP redirects";
        case kURLErrorNotConnectedToInternet:
            return "The Internet connection appears to be offline.";
        case kURLErrorBadServerResponse:
            return "bad server response";
        case kURLErrorRequestBodyStreamExhausted:
            return "request body stream exhausted";
        case kURLErrorFileDoesNotExist:
            return "The requested URL was not found on this server.";
        case kURLErrorDataLengthExceedsMaximum:
            return "resource exceeds maximum size";
        case kURLErrorSecureConnectionFailed:
            return "An SSL error has occurred and a secure connection to the server cannot be "
                   "made.";
        case kURLErrorServerCertificateUntrusted:
            return ns::format(
                "The certificate for this server is invalid. You might be connecting to a server "
                "that is pretending to be “%@” which could put your confidential information at "
                "risk.",
                url && url->host() ? *url->host() : std::string());
        case kURLErrorCannotCreateFile:
            return "cannot create file";
        case kURLErrorCannotWriteToFile:
            return "cannot write file";
        default:
            return "unknown error";
    }
}

}  // namespace

ns::Error makeURLError(int64_t code, const std::optional<ns::URL>& failingURL,
                       const std::string& debugDescription) {
    ns::Dictionary info;
    info[ns::kLocalizedDescriptionKey] = descriptionFor(code, failingURL);
    if (failingURL) {
        info[kURLErrorFailingURLErrorKey] = failingURL->absoluteString();
        info[kURLErrorFailingURLStringErrorKey] = failingURL->absoluteString();
    }
    if (!debugDescription.empty()) info[kDebugDescriptionErrorKey] = debugDescription;
    return ns::Error(kURLErrorDomain, code, std::move(info));
}

}  // namespace net
