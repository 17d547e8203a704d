#pragma once

#include <memory>
#include <optional>
#include <string>

#include "signin/DSAuthenticationResult.h"
#include "signin/DSLogger.h"
#include "signin/DSRequestContext.h"
#include "signin/DSTokenCacheDataSource.h"
#include "signin/DSUserIdentifier.h"

// The token logic between token requests and a token store, bound to one authority: looks
// up access, multi-resource and family refresh tokens, stores each server response as its
// entries and tombstones refresh tokens the server rejected. Holds no mutable state.
class DSTokenCacheAccessor : public DSLogContext {
public:
    DSTokenCacheAccessor(std::shared_ptr<DSTokenCacheDataSource> dataSource, std::string authority);

    const std::shared_ptr<DSTokenCacheDataSource>& dataSource() const { return dataSource_; }
    // "foci-" and the family id, "1" by default.
    static std::string familyClientId(const std::optional<std::string>& familyId);

    std::shared_ptr<DSTokenCacheItem> getItemForUser(const DSUserIdentifier* user,
                                                     const std::optional<std::string>& resource,
                                                     const std::optional<std::string>& clientId,
                                                     const DSRequestContext& context,
                                                     DSErrorOut error);
    std::shared_ptr<DSTokenCacheItem> getATRTItemForUser(const DSUserIdentifier* user,
                                                         const std::optional<std::string>& resource,
                                                         const std::optional<std::string>& clientId,
                                                         const DSRequestContext& context,
                                                         DSErrorOut error);
    std::shared_ptr<DSTokenCacheItem> getMRRTItemForUser(const DSUserIdentifier* user,
                                                         const std::optional<std::string>& clientId,
                                                         const DSRequestContext& context,
                                                         DSErrorOut error);
    std::shared_ptr<DSTokenCacheItem> getFRTItemForUser(const DSUserIdentifier* user,
                                                        const std::optional<std::string>& familyId,
                                                        const DSRequestContext& context,
                                                        DSErrorOut error);
    std::shared_ptr<DSTokenCacheItem> getFDSUserTokenForResource(
        const std::optional<std::string>& resource, const std::optional<std::string>& clientId,
        const DSRequestContext& context, DSErrorOut error);

    // Stores a successful response, or tombstones the refresh token of an "invalid_grant".
    void updateCacheToResult(std::shared_ptr<const DSAuthenticationResult> result,
                             const DSTokenCacheItem* cacheItem,
                             const std::optional<std::string>& refreshToken,
                             const DSRequestContext& context);
    // Writes the access token item and, for a multi-resource response, the multi-resource and
    // family refresh tokens. The caller's item is never changed.
    void updateCacheToItem(const DSTokenCacheItem& item, bool multiResourceRefreshToken,
                           const DSRequestContext& context);
    void removeItemFromCache(const DSTokenCacheItem* cacheItem,
                             const std::optional<std::string>& refreshToken,
                             const DSRequestContext& context, const DSAuthenticationError* error);

private:
    // Whether the value may be used; if not, the result becomes a failure naming the argument.
    static bool handleNilOrEmptyAsResult(const std::optional<std::string>& value,
                                         const std::string& argumentName,
                                         std::shared_ptr<const DSAuthenticationResult>& result);
    void writeItem(const DSTokenCacheItem& item, const DSRequestContext& context,
                   const char* tokenType, const char* isMRRT, const char* isFRT);
    std::shared_ptr<DSTokenCacheItem> tombstoneIfHolding(const DSTokenCacheKey* key,
                                                         const DSTokenCacheItem& cacheItem,
                                                         const std::string& refreshToken,
                                                         const DSRequestContext& context,
                                                         const DSAuthenticationError* error);

    std::shared_ptr<DSTokenCacheDataSource> dataSource_;
    std::string authority_;
};
