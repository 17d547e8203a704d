#include "signin/DSAuthenticationResult.h"

#include "platform/ns/Format.h"

std::shared_ptr<const DSAuthenticationResult> DSAuthenticationResult::resultFromError(
    const DSAuthenticationError& error, const std::optional<ns::UUID>& correlationId) {
    std::shared_ptr<DSAuthenticationResult> result(new DSAuthenticationResult());
    result->status_ = DS_FAILED;
    result->error_ = error;
    result->correlationId_ = correlationId;
    return result;
}

std::shared_ptr<const DSAuthenticationResult> DSAuthenticationResult::resultFromCancellation(
    const std::optional<ns::UUID>& correlationId) {
    std::shared_ptr<DSAuthenticationResult> result(new DSAuthenticationResult());
    result->status_ = DS_USER_CANCELLED;
    result->error_ = DSAuthenticationError::errorFromCancellation(correlationId);
    result->correlationId_ = correlationId;
    return result;
}

std::shared_ptr<const DSAuthenticationResult> DSAuthenticationResult::resultFromTokenCacheItem(
    std::shared_ptr<const DSTokenCacheItem> item, bool multiResourceRefreshToken,
    const std::optional<ns::UUID>& correlationId, bool extendedLifeTimeToken) {
    std::shared_ptr<DSAuthenticationResult> result(new DSAuthenticationResult());
    result->status_ = DS_SUCCEEDED;
    result->item_ = std::move(item);
    result->multiResourceRefreshToken_ = multiResourceRefreshToken;
    result->correlationId_ = correlationId;
    result->extendedLifeTimeToken_ = extendedLifeTimeToken;
    return result;
}

std::optional<std::string> DSAuthenticationResult::accessToken() const {
    return item_ ? item_->accessToken() : std::nullopt;
}

std::string DSAuthenticationResult::stringForResultStatus(int32_t status) {
    switch (status) {
        case DS_SUCCEEDED:
            return "DS_SUCCEEDED";
        case DS_USER_CANCELLED:
            return "DS_USER_CANCELLED";
        case DS_FAILED:
            return "DS_FAILED";
        default:
            return "DS_UNKNOWN";
    }
}

std::string DSAuthenticationResult::description() const {
    return ns::format("(error=%@, mrrt=%@, status=%@, item=%@, correlationId=%@)",
                      error_ ? ns::FormatArg(*error_) : ns::FormatArg(nullptr),
                      multiResourceRefreshToken_ ? "YES" : "NO", stringForResultStatus(status_),
                      item_ ? ns::FormatArg(*item_) : ns::FormatArg(nullptr),
                      correlationId_ ? correlationId_->UUIDString() : std::string("(null)"));
}
