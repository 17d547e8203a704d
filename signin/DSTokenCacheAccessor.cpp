#include "signin/DSTokenCacheAccessor.h"

#include <functional>

#include "platform/ns/Format.h"
#include "signin/DSStringHelpers.h"
#include "signin/DSTelemetry.h"
#include "signin/DSTelemetryCacheEvent.h"

namespace {

constexpr const char* kLookup = "token_cache_lookup";
constexpr const char* kWrite = "token_cache_write";
constexpr const char* kDelete = "token_cache_delete_token";

std::optional<std::string> userIdOf(const DSUserIdentifier* user) {
    return user ? user->userId() : std::nullopt;
}

std::shared_ptr<DSTelemetryCacheEvent> cacheEvent(const char* name,
                                                  const DSRequestContext& context) {
    return std::make_shared<DSTelemetryCacheEvent>(name, context);
}

const char* statusOf(const std::shared_ptr<DSTokenCacheItem>& item) {
    return item ? "succeeded" : "failed";
}

// Ends a look-up's telemetry event; the event is only built when a dispatcher will have it
// (every acquisition looks up, and most programs register none).
void stopLookup(const DSRequestContext& context, const std::shared_ptr<DSTokenCacheItem>& item,
                const std::function<void(DSTelemetryCacheEvent&)>& fill) {
    DSTelemetry& hub = DSTelemetry::sharedInstance();
    if (!hub.hasDispatcher()) {
        hub.cancelEvent(context.telemetryRequestId(), kLookup);
        return;
    }
    auto event = cacheEvent(kLookup, context);
    fill(*event);
    event->setStatus(statusOf(item));
    hub.stopEvent(context.telemetryRequestId(), event);
}

}  // namespace

DSTokenCacheAccessor::DSTokenCacheAccessor(std::shared_ptr<DSTokenCacheDataSource> dataSource,
                                           std::string authority)
    : dataSource_(std::move(dataSource)), authority_(std::move(authority)) {}

std::string DSTokenCacheAccessor::familyClientId(const std::optional<std::string>& familyId) {
    return ns::format("foci-%@", familyId ? *familyId : std::string("1"));
}

std::shared_ptr<DSTokenCacheItem> DSTokenCacheAccessor::getItemForUser(
    const DSUserIdentifier* user, const std::optional<std::string>& resource,
    const std::optional<std::string>& clientId, const DSRequestContext& context, DSErrorOut error) {
    std::shared_ptr<const DSTokenCacheKey> key =
        DSTokenCacheKey::keyWithAuthority(authority_, resource, clientId, error);
    if (!key) return nullptr;
    return dataSource_->getItemWithKey(key.get(), userIdOf(user), context.correlationId(), error);
}

std::shared_ptr<DSTokenCacheItem> DSTokenCacheAccessor::getATRTItemForUser(
    const DSUserIdentifier* user, const std::optional<std::string>& resource,
    const std::optional<std::string>& clientId, const DSRequestContext& context, DSErrorOut error) {
    DSTelemetry::sharedInstance().startEvent(context.telemetryRequestId(), kLookup);
    std::shared_ptr<DSTokenCacheItem> item =
        getItemForUser(user, resource, clientId, context, error);
    stopLookup(context, item,
               [](DSTelemetryCacheEvent& event) { event.setTokenType("access token"); });
    return item;
}

std::shared_ptr<DSTokenCacheItem> DSTokenCacheAccessor::getMRRTItemForUser(
    const DSUserIdentifier* user, const std::optional<std::string>& clientId,
    const DSRequestContext& context, DSErrorOut error) {
    DSTelemetry::sharedInstance().startEvent(context.telemetryRequestId(), kLookup);
    std::shared_ptr<DSTokenCacheItem> item =
        getItemForUser(user, std::nullopt, clientId, context, error);
    stopLookup(context, item, [&item](DSTelemetryCacheEvent& event) {
        event.setTokenType("multi-resource refresh token");
        if (item) {
            event.setIsMRRT("yes");
            event.setMRRTStatus("tried");
        } else {
            event.setMRRTStatus("not_found");
        }
    });
    return item;
}

std::shared_ptr<DSTokenCacheItem> DSTokenCacheAccessor::getFRTItemForUser(
    const DSUserIdentifier* user, const std::optional<std::string>& familyId,
    const DSRequestContext& context, DSErrorOut error) {
    DSTelemetry::sharedInstance().startEvent(context.telemetryRequestId(), kLookup);
    std::shared_ptr<DSTokenCacheItem> item =
        getItemForUser(user, std::nullopt, familyClientId(familyId), context, error);
    stopLookup(context, item, [&item](DSTelemetryCacheEvent& event) {
        event.setTokenType("family refresh token");
        if (item) {
            event.setIsFRT("yes");
            event.setFRTStatus("tried");
        } else {
            event.setFRTStatus("not_found");
        }
    });
    return item;
}

std::shared_ptr<DSTokenCacheItem> DSTokenCacheAccessor::getFDSUserTokenForResource(
    const std::optional<std::string>& resource, const std::optional<std::string>& clientId,
    const DSRequestContext& context, DSErrorOut error) {
    std::shared_ptr<const DSTokenCacheKey> key =
        DSTokenCacheKey::keyWithAuthority(authority_, resource, clientId, error);
    if (!key) return nullptr;
    DSTelemetry::sharedInstance().startEvent(context.telemetryRequestId(), kLookup);
    std::shared_ptr<DSTokenCacheItem> item =
        dataSource_->getItemWithKey(key.get(), "", context.correlationId(), error);
    stopLookup(context, item, [&item](DSTelemetryCacheEvent& event) {
        event.setTokenType("FDS access token/refresh token");
        if (item && !dsIsStringNilOrBlank(item->refreshToken())) {
            event.setIsRT("yes");
            event.setRTStatus("tried");
        } else {
            event.setRTStatus("not_found");
        }
    });
    return item;
}

bool DSTokenCacheAccessor::handleNilOrEmptyAsResult(
    const std::optional<std::string>& value, const std::string& argumentName,
    std::shared_ptr<const DSAuthenticationResult>& result) {
    if (!dsIsStringNilOrBlank(value)) return true;
    const std::optional<ns::UUID> correlationId = result ? result->correlationId() : std::nullopt;
    result = DSAuthenticationResult::resultFromError(
        DSAuthenticationError::errorFromArgument(value, argumentName, correlationId),
        correlationId);
    return false;
}

void DSTokenCacheAccessor::updateCacheToResult(std::shared_ptr<const DSAuthenticationResult> result,
                                               const DSTokenCacheItem* cacheItem,
                                               const std::optional<std::string>& refreshToken,
                                               const DSRequestContext& context) {
    if (!result) return;
    if (result->status() != DS_SUCCEEDED) {
        const std::optional<DSAuthenticationError>& error = result->error();
        if (error && error->code() == DS_ERROR_SERVER_REFRESH_TOKEN_REJECTED &&
            error->protocolCode() == "invalid_grant")
            removeItemFromCache(cacheItem, refreshToken, context, &*error);
        return;
    }
    std::shared_ptr<const DSTokenCacheItem> item = result->tokenCacheItem();
    bool usable = true;
    if (!item) {
        usable = handleNilOrEmptyAsResult(std::nullopt, "tokenCacheItem", result);
    } else {
        usable = handleNilOrEmptyAsResult(item->resource(), "resource", result) &&
                 handleNilOrEmptyAsResult(item->accessToken(), "accessToken", result);
    }
    if (usable) {
        updateCacheToItem(*item, result->multiResourceRefreshToken(), context);
    } else {
        DSLogger::log(DS_LOG_LEVEL_WARN, this,
                      "Told to update cache to an invalid token cache item", 0, std::nullopt,
                      context.correlationId());
    }
}

void DSTokenCacheAccessor::writeItem(const DSTokenCacheItem& item, const DSRequestContext& context,
                                     const char* tokenType, const char* isMRRT, const char* isFRT) {
    DSTelemetry::sharedInstance().startEvent(context.telemetryRequestId(), kWrite);
    dataSource_->addOrUpdateItem(&item, context.correlationId(), nullptr);
    auto event = cacheEvent(kWrite, context);
    event->setTokenType(tokenType);
    if (isMRRT) event->setIsMRRT(isMRRT);
    if (isFRT) event->setIsFRT(isFRT);
    DSTelemetry::sharedInstance().stopEvent(context.telemetryRequestId(), event);
}

void DSTokenCacheAccessor::updateCacheToItem(const DSTokenCacheItem& item,
                                             bool multiResourceRefreshToken,
                                             const DSRequestContext& context) {
    // Entries are written from copies: the caller's item may be read by other threads.
    std::shared_ptr<DSTokenCacheItem> accessItem = item.copy();
    if (multiResourceRefreshToken) {
        DSLogger::logFormat(DS_LOG_LEVEL_VERBOSE, this, "Token cache store", 0,
                            context.correlationId(), nullptr,
                            "Storing multi-resource refresh token for authority: %@", authority_);
        std::shared_ptr<DSTokenCacheItem> mrrt = item.copy();
        accessItem->setRefreshToken(std::nullopt);
        mrrt->setAccessToken(std::nullopt);
        mrrt->setResource(std::nullopt);
        mrrt->setExpiresOn(std::nullopt);
        writeItem(*mrrt, context, "multi-resource refresh token", "yes", nullptr);
        if (item.familyId()) {
            std::shared_ptr<DSTokenCacheItem> frt = mrrt->copy();
            frt->setClientId(familyClientId(item.familyId()));
            writeItem(*frt, context, "family refresh token", nullptr, "yes");
        }
    }
    DSLogger::logFormat(DS_LOG_LEVEL_VERBOSE, this, "Token cache store", 0, context.correlationId(),
                        nullptr, "Storing access token for resource: %@",
                        item.resource() ? ns::FormatArg(*item.resource()) : ns::FormatArg(nullptr));
    writeItem(*accessItem, context, "access token", nullptr, nullptr);
}

std::shared_ptr<DSTokenCacheItem> DSTokenCacheAccessor::tombstoneIfHolding(
    const DSTokenCacheKey* key, const DSTokenCacheItem& cacheItem, const std::string& refreshToken,
    const DSRequestContext& context, const DSAuthenticationError* error) {
    if (!key) return nullptr;
    const std::optional<std::string> userId =
        cacheItem.userInformation() ? cacheItem.userInformation()->userId() : std::nullopt;
    std::shared_ptr<DSTokenCacheItem> current =
        dataSource_->getItemWithKey(key, userId, context.correlationId(), nullptr);
    if (!current || current->refreshToken() != refreshToken) return nullptr;
    ns::Dictionary details;
    if (std::optional<ns::UUID> correlationId = context.correlationId())
        details["correlationId"] = correlationId->UUIDString();
    if (error && error->errorDetails()) details["errorDetails"] = *error->errorDetails();
    if (error && error->protocolCode()) details["protocolCode"] = *error->protocolCode();
    current->makeTombstone(details);
    dataSource_->addOrUpdateItem(current.get(), context.correlationId(), nullptr);
    return current;
}

void DSTokenCacheAccessor::removeItemFromCache(const DSTokenCacheItem* cacheItem,
                                               const std::optional<std::string>& refreshToken,
                                               const DSRequestContext& context,
                                               const DSAuthenticationError* error) {
    if (!cacheItem && !refreshToken) return;
    DSTelemetry::sharedInstance().startEvent(context.telemetryRequestId(), kDelete);
    if (cacheItem && refreshToken) {
        std::shared_ptr<const DSTokenCacheKey> key = cacheItem->extractKey();
        if (key && tombstoneIfHolding(key.get(), *cacheItem, *refreshToken, context, error)) {
            DSLogger::logFormat(DS_LOG_LEVEL_VERBOSE, this, "Token cache store", 0,
                                context.correlationId(), nullptr,
                                "Tombstoning cache for resource: %@",
                                cacheItem->resource() ? ns::FormatArg(*cacheItem->resource())
                                                      : ns::FormatArg(nullptr));
        } else {
            std::shared_ptr<const DSTokenCacheKey> mrrtKey = DSTokenCacheKey::keyWithAuthority(
                authority_, std::nullopt, cacheItem->clientId(), nullptr);
            if (tombstoneIfHolding(mrrtKey.get(), *cacheItem, *refreshToken, context, error)) {
                DSLogger::logFormat(DS_LOG_LEVEL_VERBOSE, this, "Token cache store", 0,
                                    context.correlationId(), nullptr,
                                    "Tombstoning multi-resource refresh token for authority: %@",
                                    authority_);
            }
        }
    }
    DSTelemetry::sharedInstance().stopEvent(context.telemetryRequestId(),
                                            cacheEvent(kDelete, context));
}
