#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ns/UUID.h"
#include "signin/DSAuthenticationError.h"
#include "signin/DSTokenCacheItem.h"
#include "signin/DSTokenCacheKey.h"

using DSTokenCacheItems = std::vector<std::shared_ptr<DSTokenCacheItem>>;

// What every token store offers. A key of nothing matches every key, a user id of nothing
// every user; items are filed under their user's id, or "" without one. Items handed out are
// the caller's own copies.
class DSTokenCacheDataSource {
public:
    static constexpr const char* kMultipleUsersDetails =
        "The token cache store for this resource contains more than one user. Please set the "
        "'userId' parameter to the one that will be used.";

    virtual ~DSTokenCacheDataSource() = default;

    // The one live item; nothing when none matches, or with error 300 when several do.
    virtual std::shared_ptr<DSTokenCacheItem> getItemWithKey(
        const DSTokenCacheKey* key, const std::optional<std::string>& userId,
        const std::optional<ns::UUID>& correlationId, DSErrorOut error);
    // Every matching item, tombstones included; nothing when the store cannot be read.
    virtual std::optional<DSTokenCacheItems> getItemsWithKey(
        const DSTokenCacheKey* key, const std::optional<std::string>& userId,
        const std::optional<ns::UUID>& correlationId, DSErrorOut error) = 0;
    virtual bool addOrUpdateItem(const DSTokenCacheItem* item,
                                 const std::optional<ns::UUID>& correlationId,
                                 DSErrorOut error) = 0;
    virtual bool removeItem(const DSTokenCacheItem* item, DSErrorOut error) = 0;
    virtual std::optional<DSTokenCacheItems> allItems(DSErrorOut error);
    virtual std::optional<DSTokenCacheItems> allTombstones(DSErrorOut error);

    static DSTokenCacheItems filterOutTombstones(const DSTokenCacheItems& items);
    static DSTokenCacheItems onlyTombstones(const DSTokenCacheItems& items);

protected:
    // A single-item look-up found no live item among these (tombstones only, or nothing).
    virtual void logNoLiveItem(const DSTokenCacheItems& items,
                               const std::optional<ns::UUID>& correlationId) = 0;
};
