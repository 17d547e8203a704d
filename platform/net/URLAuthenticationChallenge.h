#pragma once

#include <cstdint>

#include "platform/net/URLProtectionSpace.h"

namespace net {

// How a delegate answers a challenge.
enum class URLSessionAuthChallengeDisposition : int {
    UseCredential = 0,
    PerformDefaultHandling = 1,
    CancelAuthenticationChallenge = 2,
    RejectProtectionSpace = 3,
};

// A request for authentication that a task hands to its session's delegate.
class URLAuthenticationChallenge {
public:
    explicit URLAuthenticationChallenge(URLProtectionSpace space, int64_t previousFailureCount = 0)
        : space_(std::move(space)), failures_(previousFailureCount) {}

    const URLProtectionSpace& protectionSpace() const { return space_; }
    int64_t previousFailureCount() const { return failures_; }

private:
    URLProtectionSpace space_;
    int64_t failures_;
};

}  // namespace net
