#pragma once

#include <cstdint>
#include <string>

// The answer of a cache look-up.
class NEBInstanceIDCachedToken {
public:
    enum Status : int64_t { kNone = 0, kValid = 1, kInvalidateAll = 2 };

    NEBInstanceIDCachedToken(std::string token, int64_t status)
        : token_(std::move(token)),
          status_(status),
          shouldInvalidateAllTokens_(status == kInvalidateAll) {}

    const std::string& token() const { return token_; }
    int64_t status() const { return status_; }
    bool shouldInvalidateAllTokens() const { return shouldInvalidateAllTokens_; }
    bool shouldRefreshTokens() const { return false; }
    bool isValid() const { return !token_.empty() && status_ == kValid; }

private:
    std::string token_;
    int64_t status_;
    bool shouldInvalidateAllTokens_;
};
