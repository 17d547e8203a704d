#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Date.h"
#include "platform/ns/Value.h"
#include "platform/sec/SecBase.h"
#include "signin/DSTokenCacheDataSource.h"

// The default token store: each item is one generic-password keychain item of an access
// group that applications of one signing team can share. Removing an item that holds a refresh
// token leaves a tombstone, purged at most once a day.
class DSKeychainTokenCache : public DSTokenCacheDataSource,
                             public std::enable_shared_from_this<DSKeychainTokenCache> {
public:
    static constexpr const char* kInitialDefaultGroup = "com.directory.salcache";
    static constexpr const char* kTokenGeneric = "DirServices.SAL.1";
    static constexpr const char* kTombstoneGeneric = "Directory.SAL.Tombstone.1";
    static constexpr const char* kBlankResourceName = "CC3513A0-0E69-4B4D-97FC-DFB6C91EE132";
    static constexpr const char* kCleanTimeService = "NextTombstoneCleanTime";
    static constexpr double kCleanInterval = 86400;
    // Where the purge has listed the tombstones, and where it is about to delete one that it
    // read again under the writers' lock (see ns::passTestPoint).
    static constexpr const char* kPurgeListedPoint = "DSKeychainTokenCache.purge.listed";
    static constexpr const char* kPurgeDeletingPoint = "DSKeychainTokenCache.purge.deleting";

    static std::string defaultKeychainGroup();
    // Raises once the default cache exists; nothing means the main bundle's identifier.
    static void setDefaultKeychainGroup(const std::optional<std::string>& group);
    static std::shared_ptr<DSKeychainTokenCache> defaultKeychainCache();
    static std::shared_ptr<DSKeychainTokenCache> keychainCacheForGroup(const std::string& group);
    // True when the status is a failure (neither success nor item-not-found).
    static bool checkStatus(sec::OSStatus status, const std::string& operation,
                            const std::optional<ns::UUID>& correlationId, DSErrorOut error);
    static std::string getAttributeName(const std::optional<std::string>& text);

    // Nothing without a team identifier.
    static std::shared_ptr<DSKeychainTokenCache> initWithGroup(
        const std::optional<std::string>& group);

    const std::string& sharedGroup() const { return sharedGroup_; }
    const ns::Dictionary& defaultKeychainQuery() const { return default_; }
    std::string keychainKeyFromCacheKey(const DSTokenCacheKey& key) const;
    ns::Dictionary queryDictionaryForKey(const DSTokenCacheKey* key,
                                         const std::optional<std::string>& userId,
                                         const ns::Dictionary& additional) const;
    std::optional<ns::Array> keychainItemsWithKey(const DSTokenCacheKey* key,
                                                  const std::optional<std::string>& userId,
                                                  DSErrorOut error) const;
    std::shared_ptr<DSTokenCacheItem> itemFromKeychainAttributes(const ns::Value& attributes) const;
    // The item archived in an item's value data (nothing: no data, logged as missing).
    std::shared_ptr<DSTokenCacheItem> itemFromKeychainData(const ns::Data* data) const;

    std::optional<DSTokenCacheItems> getItemsWithKey(const DSTokenCacheKey* key,
                                                     const std::optional<std::string>& userId,
                                                     const std::optional<ns::UUID>& correlationId,
                                                     DSErrorOut error) override;
    bool addOrUpdateItem(const DSTokenCacheItem* item, const std::optional<ns::UUID>& correlationId,
                         DSErrorOut error) override;
    bool removeItem(const DSTokenCacheItem* item, DSErrorOut error) override;
    sec::OSStatus deleteItem(const DSTokenCacheItem* item, DSErrorOut error);

    // Maintenance.
    bool cleanTombstoneIfNecessary();
    bool isTimeToCleanTombstones();
    std::optional<ns::Date> getTombstoneCleanTime() const;
    void storeTombstoneCleanTime(const ns::Date& date);
    bool removeAllForClientId(const std::string& clientId, DSErrorOut error);
    bool removeAllForUserId(const std::string& userId, const std::string& clientId,
                            DSErrorOut error);
    void testRemoveAll(DSErrorOut error);

    static std::string getTokenNameForLog(const DSTokenCacheItem& item);
    // The item's own log line (its tokens as hashes) at VERBOSE, after the message.
    static void logItem(const DSTokenCacheItem& item, const std::string& message,
                        const std::optional<ns::UUID>& correlationId);

protected:
    void logNoLiveItem(const DSTokenCacheItems& items,
                       const std::optional<ns::UUID>& correlationId) override;

private:
    explicit DSKeychainTokenCache(std::string sharedGroup);

    void logItemRetrievalStatus(const DSTokenCacheItems* items, const DSTokenCacheKey* key,
                                const std::optional<std::string>& userId,
                                const std::optional<ns::UUID>& correlationId) const;
    static void logTombstones(const DSTokenCacheItems& items);
    // The stored values (and, when asked, the attributes) of the items matching key and user.
    std::optional<ns::Array> copyMatches(const DSTokenCacheKey* key,
                                         const std::optional<std::string>& userId,
                                         bool withAttributes, DSErrorOut error) const;
    bool removeItemsWhere(const std::function<bool(const DSTokenCacheItem&)>& matches,
                          DSErrorOut error);
    sec::OSStatus writeData(const ns::Dictionary& query, const ns::Data& data);
    ns::Dictionary cleanTimeQuery() const;
    // The item of stored archive bytes: a copy of the one decoded from the same bytes before,
    // else decoded now (and remembered unless a write came after `generation` was read).
    std::shared_ptr<DSTokenCacheItem> itemFromArchive(const ns::Data& data,
                                                      uint64_t generation) const;
    uint64_t decodedGeneration() const;
    void forgetDecodedItems();

    std::string sharedGroup_;
    ns::Dictionary default_;
    ns::Dictionary defaultTombstone_;
    // Writers of one access group, through any cache object of this process, take turns.
    std::shared_ptr<dispatch::RecursiveMutex> lock_;

    // Items decoded from the archives read last, by the archives' bytes, shared by the cache
    // objects of one group: every acquisition reads its item again, and decoding (the archive,
    // then the id_token in it) is most of the cost of a look-up. Keyed by the bytes themselves,
    // an entry can only ever answer the bytes it was decoded from, whoever wrote them; the
    // group's writes in this process clear them all the same, so that no replaced token
    // lingers in memory.
    struct DecodedItems;
    static std::shared_ptr<DecodedItems> decodedItemsOfGroup(const std::string& group);
    std::shared_ptr<DecodedItems> decoded_;
};
