#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/ns/UUID.h"
#include "signin/DSAuthenticationError.h"
#include "signin/DSTokenCacheItem.h"

enum DSAuthenticationResultStatus : int32_t {
    DS_SUCCEEDED = 0,
    DS_USER_CANCELLED = 1,
    DS_FAILED = 2,
};

// What every acquire operation hands to its completion: a status, the token on success, the
// error on failure, the request's correlation identifier and two flags.
class DSAuthenticationResult {
public:
    static std::shared_ptr<const DSAuthenticationResult> resultFromError(
        const DSAuthenticationError& error,
        const std::optional<ns::UUID>& correlationId = std::nullopt);
    // The user ended the sign-in: status DS_USER_CANCELLED with the cancellation error.
    static std::shared_ptr<const DSAuthenticationResult> resultFromCancellation(
        const std::optional<ns::UUID>& correlationId);
    static std::shared_ptr<const DSAuthenticationResult> resultFromTokenCacheItem(
        std::shared_ptr<const DSTokenCacheItem> item, bool multiResourceRefreshToken,
        const std::optional<ns::UUID>& correlationId, bool extendedLifeTimeToken = false);

    const std::shared_ptr<const DSTokenCacheItem>& tokenCacheItem() const { return item_; }
    int32_t status() const { return status_; }
    const std::optional<DSAuthenticationError>& error() const { return error_; }
    const std::optional<ns::UUID>& correlationId() const { return correlationId_; }
    bool multiResourceRefreshToken() const { return multiResourceRefreshToken_; }
    bool extendedLifeTimeToken() const { return extendedLifeTimeToken_; }
    std::optional<std::string> accessToken() const;

    static std::string stringForResultStatus(int32_t status);
    std::string description() const;

private:
    DSAuthenticationResult() = default;

    std::shared_ptr<const DSTokenCacheItem> item_;
    int32_t status_ = DS_FAILED;
    std::optional<DSAuthenticationError> error_;
    std::optional<ns::UUID> correlationId_;
    bool multiResourceRefreshToken_ = false;
    bool extendedLifeTimeToken_ = false;
};
