#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/URLRequest.h"

namespace net {

// How a session runs its tasks. A plain value: a session keeps its own copy.
//
// Background configurations carry an identifier: upload tasks from a file made in such a
// session are kept on disk until they finish and are taken up again by the next session made
// with the same identifier (see URLSession).
class URLSessionConfiguration {
public:
    // Largest response body a task accepts unless configured otherwise (64 MiB).
    static constexpr uint64_t kDefaultMaximumResponseSize = uint64_t{64} << 20;

    static URLSessionConfiguration defaultSessionConfiguration();
    static URLSessionConfiguration backgroundSessionConfiguration(std::string identifier);

    const std::optional<std::string>& identifier() const { return identifier_; }
    bool isBackground() const { return identifier_.has_value(); }

    // Seconds without any bytes moving before a task fails (the request's own interval applies
    // when shorter). Default 60.
    double timeoutIntervalForRequest() const { return requestTimeout_; }
    void setTimeoutIntervalForRequest(double seconds) { requestTimeout_ = seconds; }
    // Seconds a whole task may take. Default 7 days.
    double timeoutIntervalForResource() const { return resourceTimeout_; }
    void setTimeoutIntervalForResource(double seconds) { resourceTimeout_ = seconds; }

    // Sent with every request that does not set the field itself.
    const HTTPHeaderFields& HTTPAdditionalHeaders() const { return additionalHeaders_; }
    void setHTTPAdditionalHeaders(HTTPHeaderFields headers) {
        additionalHeaders_ = std::move(headers);
    }

    URLRequestCachePolicy requestCachePolicy() const { return cachePolicy_; }
    void setRequestCachePolicy(URLRequestCachePolicy policy) { cachePolicy_ = policy; }
    // Recorded for callers that turn the cache off; no cache is ever kept.
    bool usesURLCache() const { return usesURLCache_; }
    void setUsesURLCache(bool uses) { usesURLCache_ = uses; }

    // A task whose response body grows beyond this many bytes fails with
    // kURLErrorDataLengthExceedsMaximum, so that no answer can exhaust memory or disk.
    uint64_t maximumResponseSize() const { return maximumResponseSize_; }
    void setMaximumResponseSize(uint64_t bytes) { maximumResponseSize_ = bytes; }

private:
    URLSessionConfiguration() = default;

    std::optional<std::string> identifier_;
    double requestTimeout_ = 60.0;
    double resourceTimeout_ = 7 * 24 * 3600.0;
    HTTPHeaderFields additionalHeaders_;
    URLRequestCachePolicy cachePolicy_ = URLRequestCachePolicy::UseProtocolCachePolicy;
    bool usesURLCache_ = true;
    uint64_t maximumResponseSize_ = kDefaultMaximumResponseSize;
};

}  // namespace net
