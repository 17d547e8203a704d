#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Data.h"
#include "signin/DSArchiveValue.h"
#include "signin/DSTokenCacheDataSource.h"
#include "signin/DSTokenCacheDelegate.h"

// The in-memory token store of applications that keep tokens themselves: its whole content
// turns into one versioned blob and back, and a delegate is told of every read and write.
// Items enter and leave as copies. A removal deletes outright.
class DSTokenCache : public DSTokenCacheDataSource, public DSLogContext {
public:
    static constexpr double kCacheVersion = 1.0;

    static std::shared_ptr<DSTokenCache> defaultCache();
    DSTokenCache() = default;

    std::shared_ptr<DSTokenCacheDelegate> delegate() const;
    void setDelegate(std::shared_ptr<DSTokenCacheDelegate> delegate);

    std::optional<ns::Data> serialize();
    bool deserialize(const std::optional<ns::Data>& data, DSErrorOut error);
    bool updateCache(const std::optional<ns::Data>& data, DSErrorOut error);

    std::optional<DSTokenCacheItems> getItemsWithKey(const DSTokenCacheKey* key,
                                                     const std::optional<std::string>& userId,
                                                     const std::optional<ns::UUID>& correlationId,
                                                     DSErrorOut error) override;
    bool addOrUpdateItem(const DSTokenCacheItem* item, const std::optional<ns::UUID>& correlationId,
                         DSErrorOut error) override;
    bool removeItem(const DSTokenCacheItem* item, DSErrorOut error) override;

    std::string description() const;

protected:
    void logNoLiveItem(const DSTokenCacheItems& items,
                       const std::optional<ns::UUID>& correlationId) override;

private:
    using UserItems =
        std::unordered_map<DSTokenCacheKey, std::shared_ptr<DSTokenCacheItem>, DSTokenCacheKeyHash>;
    using Tokens = std::map<std::string, UserItems>;
    // The adopted or written content: "tokens", and whatever else a blob's cache held, kept so
    // that it is written back.
    struct Content {
        std::optional<Tokens> tokens;
        DSArchiveValue::Pairs others;
    };

    enum class BlobSource { Deserialize, Update };
    bool adoptBlob(const std::optional<ns::Data>& data, BlobSource source, DSErrorOut error);
    static std::optional<Content> validateCache(const DSArchiveValue& root, DSErrorOut error);
    DSArchiveValue snapshot() const REQUIRES_SHARED(lock_);
    DSTokenCacheItems collect(const DSTokenCacheKey* key,
                              const std::optional<std::string>& userId) const
        REQUIRES_SHARED(lock_);

    mutable dispatch::SharedMutex lock_;
    std::optional<Content> cache_ GUARDED_BY(lock_);
    mutable dispatch::Mutex delegateMutex_;
    std::shared_ptr<DSTokenCacheDelegate> delegate_ GUARDED_BY(delegateMutex_);
};
