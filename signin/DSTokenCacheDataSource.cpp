#include "signin/DSTokenCacheDataSource.h"

DSTokenCacheItems DSTokenCacheDataSource::filterOutTombstones(const DSTokenCacheItems& items) {
    DSTokenCacheItems live;
    for (const auto& item : items) {
        if (!item->tombstone()) live.push_back(item);
    }
    return live;
}

DSTokenCacheItems DSTokenCacheDataSource::onlyTombstones(const DSTokenCacheItems& items) {
    DSTokenCacheItems tombstones;
    for (const auto& item : items) {
        if (item->tombstone()) tombstones.push_back(item);
    }
    return tombstones;
}

std::shared_ptr<DSTokenCacheItem> DSTokenCacheDataSource::getItemWithKey(
    const DSTokenCacheKey* key, const std::optional<std::string>& userId,
    const std::optional<ns::UUID>& correlationId, DSErrorOut error) {
    std::optional<DSTokenCacheItems> items = getItemsWithKey(key, userId, correlationId, error);
    if (!items) return nullptr;
    DSTokenCacheItems live = filterOutTombstones(*items);
    if (live.size() == 1) return live.front();
    if (live.size() > 1) {
        dsSetError(error, DSAuthenticationError::errorFromAuthenticationError(
                              DS_ERROR_CACHE_MULTIPLE_USERS, std::nullopt, kMultipleUsersDetails,
                              correlationId));
        return nullptr;
    }
    logNoLiveItem(*items, correlationId);
    return nullptr;
}

std::optional<DSTokenCacheItems> DSTokenCacheDataSource::allItems(DSErrorOut error) {
    std::optional<DSTokenCacheItems> items =
        getItemsWithKey(nullptr, std::nullopt, std::nullopt, error);
    if (!items) return std::nullopt;
    return filterOutTombstones(*items);
}

std::optional<DSTokenCacheItems> DSTokenCacheDataSource::allTombstones(DSErrorOut error) {
    std::optional<DSTokenCacheItems> items =
        getItemsWithKey(nullptr, std::nullopt, std::nullopt, error);
    if (!items) return std::nullopt;
    return onlyTombstones(*items);
}
