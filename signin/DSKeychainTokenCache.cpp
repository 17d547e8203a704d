#include "signin/DSKeychainTokenCache.h"

#include <farmhash.h>

#include <algorithm>
#include <array>
#include <map>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/Exception.h"
#include "platform/ns/FaultSeam.h"
#include "platform/ns/Format.h"
#include "platform/sec/Keychain.h"
#include "platform/sec/SecItem.h"
#include "signin/DSAuthenticationError.h"
#include "signin/DSKeychainUtil.h"
#include "signin/DSKeyedArchiver.h"
#include "signin/DSKeyedUnarchiver.h"
#include "signin/DSLogger.h"
#include "signin/DSStringHelpers.h"

namespace {

struct ClassState {
    dispatch::Mutex mutex;
    std::string defaultGroup GUARDED_BY(mutex) = DSKeychainTokenCache::kInitialDefaultGroup;
    std::shared_ptr<DSKeychainTokenCache> defaultCache GUARDED_BY(mutex);
    bool defaultCacheMade GUARDED_BY(mutex) = false;
    std::map<std::string, std::shared_ptr<dispatch::RecursiveMutex>> groupLocks GUARDED_BY(mutex);
};

ClassState& classState() {
    static ClassState* state = new ClassState();
    return *state;
}

std::string mainBundleIdentifier() {
    std::shared_ptr<ns::Bundle> bundle = ns::Bundle::mainBundle();
    std::optional<std::string> id = bundle ? bundle->bundleIdentifier() : std::nullopt;
    return id.value_or("");
}

class CacheContext : public DSLogContext {};

}  // namespace

std::string DSKeychainTokenCache::defaultKeychainGroup() {
    ClassState& state = classState();
    dispatch::Lock lock(state.mutex);
    return state.defaultGroup;
}

void DSKeychainTokenCache::setDefaultKeychainGroup(const std::optional<std::string>& group) {
    ClassState& state = classState();
    dispatch::Lock lock(state.mutex);
    if (state.defaultCacheMade) {
        throw ns::Exception(
            ns::kInternalInconsistencyException,
            "Attempting to change the keychain group once AuthenticationContexts have been "
            "created or the default keychain cache has been retrieved is invalid. The default "
            "keychain group should only be set once for the lifetime of an application.");
    }
    if (group && *group == state.defaultGroup) return;
    state.defaultGroup = group ? *group : mainBundleIdentifier();
}

std::shared_ptr<DSKeychainTokenCache> DSKeychainTokenCache::defaultKeychainCache() {
    ClassState& state = classState();
    std::string group;
    {
        dispatch::Lock lock(state.mutex);
        if (state.defaultCacheMade) return state.defaultCache;
        group = state.defaultGroup;
    }
    std::shared_ptr<DSKeychainTokenCache> cache = initWithGroup(group);
    dispatch::Lock lock(state.mutex);
    if (!state.defaultCacheMade) {
        state.defaultCache = std::move(cache);
        state.defaultCacheMade = true;
    }
    return state.defaultCache;
}

std::shared_ptr<DSKeychainTokenCache> DSKeychainTokenCache::keychainCacheForGroup(
    const std::string& group) {
    if (group == defaultKeychainGroup()) return defaultKeychainCache();
    return initWithGroup(group);
}

bool DSKeychainTokenCache::checkStatus(sec::OSStatus status, const std::string& operation,
                                       const std::optional<ns::UUID>& correlationId,
                                       DSErrorOut error) {
    if (status == sec::errSecSuccess || status == sec::errSecItemNotFound) return false;
    if (error)
        *error =
            DSAuthenticationError::keychainErrorFromOperation(operation, status, correlationId);
    return true;
}

std::string DSKeychainTokenCache::getAttributeName(const std::optional<std::string>& text) {
    if (dsIsStringNilOrBlank(text)) return kBlankResourceName;
    return adBase64UrlEncode(*text);
}

DSKeychainTokenCache::DSKeychainTokenCache(std::string sharedGroup)
    : sharedGroup_(std::move(sharedGroup)) {
    default_ = {{sec::kSecClass, sec::kSecClassGenericPassword},
                {sec::kSecAttrGeneric, ns::Data::fromString(kTokenGeneric)},
                {sec::kSecAttrAccessGroup, sharedGroup_}};
    defaultTombstone_ = {{sec::kSecClass, sec::kSecClassGenericPassword},
                         {sec::kSecAttrGeneric, ns::Data::fromString(kTombstoneGeneric)},
                         {sec::kSecAttrAccessGroup, sharedGroup_}};
    ClassState& state = classState();
    dispatch::Lock lock(state.mutex);
    auto& groupLock = state.groupLocks[sharedGroup_];
    if (!groupLock) groupLock = std::make_shared<dispatch::RecursiveMutex>();
    lock_ = groupLock;
    decoded_ = decodedItemsOfGroup(sharedGroup_);
}

std::shared_ptr<DSKeychainTokenCache> DSKeychainTokenCache::initWithGroup(
    const std::optional<std::string>& group) {
    const std::string name = group ? *group : mainBundleIdentifier();
    // Tokens that earlier versions kept in the group of this name of a former team are to be
    // found in the team's.
    sec::Keychain::shared().carryOverTeamGroup(name);
    const std::optional<std::string> team = DSKeychainUtil::keychainTeamId();
    if (!team) return nullptr;
    std::shared_ptr<DSKeychainTokenCache> cache(
        new DSKeychainTokenCache(ns::format("%@.%@", *team, name)));
    static std::once_flag cleanup;
    std::call_once(cleanup, [cache] {
        dispatch::Queue::global().async([cache] { cache->cleanTombstoneIfNecessary(); });
    });
    return cache;
}

std::string DSKeychainTokenCache::keychainKeyFromCacheKey(const DSTokenCacheKey& key) const {
    // Built for every look-up: plain concatenation rather than a format to interpret.
    std::string service = kTokenGeneric;
    service += '|';
    service += adBase64UrlEncode(key.authority());
    service += '|';
    service += getAttributeName(key.resource());
    service += '|';
    service += adBase64UrlEncode(key.clientId());
    return service;
}

ns::Dictionary DSKeychainTokenCache::queryDictionaryForKey(const DSTokenCacheKey* key,
                                                           const std::optional<std::string>& userId,
                                                           const ns::Dictionary& additional) const {
    ns::Dictionary query = default_;
    if (key) query[sec::kSecAttrService] = keychainKeyFromCacheKey(*key);
    if (userId) query[sec::kSecAttrAccount] = adBase64UrlEncode(*userId);
    for (const auto& [name, value] : additional) query.insert_or_assign(name, value);
    return query;
}

std::optional<ns::Array> DSKeychainTokenCache::keychainItemsWithKey(
    const DSTokenCacheKey* key, const std::optional<std::string>& userId, DSErrorOut error) const {
    return copyMatches(key, userId, true, error);
}

std::optional<ns::Array> DSKeychainTokenCache::copyMatches(const DSTokenCacheKey* key,
                                                           const std::optional<std::string>& userId,
                                                           bool withAttributes,
                                                           DSErrorOut error) const {
    ns::Dictionary query = queryDictionaryForKey(
        key, userId, {{sec::kSecMatchLimit, sec::kSecMatchLimitAll}, {sec::kSecReturnData, true}});
    if (withAttributes) query[sec::kSecReturnAttributes] = true;
    ns::Value result;
    const sec::OSStatus status = sec::SecItemCopyMatching(query, &result);
    if (status == sec::errSecSuccess && result.array()) return std::move(*result.array());
    if (status == sec::errSecItemNotFound) return ns::Array();
    // A success without a list of items is a keychain fault like any other.
    checkStatus(status == sec::errSecSuccess ? sec::errSecDecode : status, "retrieve items",
                std::nullopt, error);
    return std::nullopt;
}

std::shared_ptr<DSTokenCacheItem> DSKeychainTokenCache::itemFromKeychainAttributes(
    const ns::Value& attributes) const {
    const ns::Value* data = attributes.find(sec::kSecValueData);
    return itemFromKeychainData(data ? data->data() : nullptr);
}

std::shared_ptr<DSTokenCacheItem> DSKeychainTokenCache::itemFromKeychainData(
    const ns::Data* data) const {
    auto refuse = [](const char* warning) -> std::shared_ptr<DSTokenCacheItem> {
        CacheContext context;
        DSLogger::log(DS_LOG_LEVEL_WARN, &context, warning, DS_ERROR_SUCCEEDED, std::nullopt,
                      std::nullopt);
        return nullptr;
    };
    if (!data) return refuse("Retrieved item with key that did not have generic item data!");
    ns::Result<DSArchiveValue> root =
        DSKeyedUnarchiver::unarchive(*data, DSTokenCacheItem::archiveClasses());
    if (!root) return refuse("Failed to deserialize data from keychain");
    if (root->isNil()) return refuse("Unable to decode item from data stored in keychain.");
    std::shared_ptr<DSTokenCacheItem> item = DSTokenCacheItem::decode(*root);
    if (!item) return refuse("Unarchived Item was not of expected class");
    return item;
}

void DSKeychainTokenCache::logItemRetrievalStatus(
    const DSTokenCacheItems* items, const DSTokenCacheKey* key,
    const std::optional<std::string>& userId, const std::optional<ns::UUID>& correlationId) const {
    // Every look-up passes here: the lines are only built when they will be written.
    if (DSLogger::getLevel() < DS_LOG_LEVEL_INFO) return;
    auto orNull = [](const std::optional<std::string>& t) { return t.value_or("(null)"); };
    const std::string query = ns::format(
        "(resource <%@> + client <%@> + authority <%@>)", key ? orNull(key->resource()) : "(null)",
        key ? key->clientId() : "(null)", key ? key->authority() : "(null)");
    CacheContext context;
    // Tombstones are removed tokens: counted as found, a cache just cleared would report the
    // tokens that every read of it leaves out.
    const size_t live = items ? static_cast<size_t>(std::count_if(
                                    items->begin(), items->end(),
                                    [](const auto& item) { return !item->tombstone(); }))
                              : 0;
    if (live > 0) {
        DSLogger::logFormat(DS_LOG_LEVEL_INFO, &context,
                            ns::format("Found %lu token(s) for query: %@", live, query),
                            DS_ERROR_SUCCEEDED, correlationId, nullptr, "user <%@>",
                            orNull(userId));
    } else {
        DSLogger::log(DS_LOG_LEVEL_INFO, &context,
                      ns::format("No items were found for query: %@", query), DS_ERROR_SUCCEEDED,
                      std::nullopt, correlationId);
    }
}

std::optional<DSTokenCacheItems> DSKeychainTokenCache::getItemsWithKey(
    const DSTokenCacheKey* key, const std::optional<std::string>& userId,
    const std::optional<ns::UUID>& correlationId, DSErrorOut error) {
    // Read before the keychain is: writes clear the remembered items once they are done, so
    // what is decoded from bytes read before a write ended is not remembered after it.
    const uint64_t generation = decodedGeneration();
    // Only the archived items are read: the attributes that keychainItemsWithKey returns as
    // well are of no use here, and every acquisition passes this way.
    std::optional<ns::Array> matches = copyMatches(key, userId, false, error);
    if (!matches) {
        logItemRetrievalStatus(nullptr, key, userId, correlationId);
        return std::nullopt;
    }
    DSTokenCacheItems items;
    for (const ns::Value& value : *matches) {
        const ns::Data* data = value.data();
        auto item = data ? itemFromArchive(*data, generation) : itemFromKeychainData(nullptr);
        if (item) items.push_back(std::move(item));
    }
    logItemRetrievalStatus(&items, key, userId, correlationId);
    return items;
}

struct DSKeychainTokenCache::DecodedItems {
    struct Entry {
        ns::Data archive;
        std::shared_ptr<const DSTokenCacheItem> item;
    };
    // Enough for every item a group with many users holds (one per user, resource and
    // client, and their refresh tokens), yet bounded in bytes: an archive may be large, and
    // what is remembered holds tokens. Oldest first out.
    static constexpr size_t kCapacity = 256;
    static_assert((kCapacity & (kCapacity - 1)) == 0, "slots wrap by mask");
    static constexpr size_t kMaxBytes = 1u << 20;
    static constexpr size_t kMaxEntryBytes = 16u << 10;
    dispatch::Mutex mutex;
    // A ring of `count` entries from `first`; the hashes apart, so that a look-up scans one
    // small array and compares bytes only where a hash matches.
    std::array<uint64_t, kCapacity> hashes GUARDED_BY(mutex){};
    std::array<Entry, kCapacity> entries GUARDED_BY(mutex);
    size_t first GUARDED_BY(mutex) = 0;
    size_t count GUARDED_BY(mutex) = 0;
    size_t bytes GUARDED_BY(mutex) = 0;
    uint64_t generation GUARDED_BY(mutex) = 0;

    static uint64_t hashOf(const ns::Data& data) {
        return util::Hash64(data.chars().data(), data.length());
    }
    static size_t slot(size_t index) { return index & (kCapacity - 1); }

    std::shared_ptr<const DSTokenCacheItem> find(const ns::Data& data, uint64_t hash) const
        REQUIRES(mutex) {
        for (size_t i = 0; i < count; ++i) {
            const size_t at = slot(first + i);
            // The bytes themselves decide: a hash alone could answer another user's item.
            if (hashes[at] == hash && entries[at].archive == data) return entries[at].item;
        }
        return nullptr;
    }

    void dropOldest() REQUIRES(mutex) {
        bytes -= entries[first].archive.length();
        entries[first] = Entry();
        first = slot(first + 1);
        --count;
    }

    void remember(const ns::Data& data, uint64_t hash, const DSTokenCacheItem& item)
        REQUIRES(mutex) {
        // Two readers that missed the same bytes at once may both remember them: harmless.
        if (data.length() > kMaxEntryBytes) return;
        while (count > 0 && (count == kCapacity || bytes + data.length() > kMaxBytes)) dropOldest();
        const size_t at = slot(first + count);
        hashes[at] = hash;
        entries[at] = {data, std::make_shared<const DSTokenCacheItem>(item)};
        bytes += data.length();
        ++count;
    }

    void clear() REQUIRES(mutex) {
        ++generation;
        while (count > 0) dropOldest();
        first = 0;
    }
};

std::shared_ptr<DSKeychainTokenCache::DecodedItems> DSKeychainTokenCache::decodedItemsOfGroup(
    const std::string& group) {
    static dispatch::Mutex mutex;
    static auto* groups = new std::map<std::string, std::shared_ptr<DecodedItems>>();
    dispatch::Lock lock(mutex);
    auto& decoded = (*groups)[group];
    if (!decoded) decoded = std::make_shared<DecodedItems>();
    return decoded;
}

std::shared_ptr<DSTokenCacheItem> DSKeychainTokenCache::itemFromArchive(const ns::Data& data,
                                                                        uint64_t generation) const {
    const uint64_t hash = DecodedItems::hashOf(data);
    {
        dispatch::Lock lock(decoded_->mutex);
        // Callers change what they get: each gets its own copy.
        if (auto known = decoded_->find(data, hash))
            return std::make_shared<DSTokenCacheItem>(*known);
    }
    std::shared_ptr<DSTokenCacheItem> item = itemFromKeychainData(&data);
    if (!item) return nullptr;
    // An item whose decoding warned is decoded (and warns) on every read, as without memory.
    if (item->userInformation() && item->userInformation()->warnedOfTokenType()) return item;
    dispatch::Lock lock(decoded_->mutex);
    if (generation == decoded_->generation) decoded_->remember(data, hash, *item);
    return item;
}

uint64_t DSKeychainTokenCache::decodedGeneration() const {
    dispatch::Lock lock(decoded_->mutex);
    return decoded_->generation;
}

void DSKeychainTokenCache::forgetDecodedItems() {
    dispatch::Lock lock(decoded_->mutex);
    decoded_->clear();
}

// One step: the item gives way to its new value, so that a reader sees the old value or the
// new, never neither.
sec::OSStatus DSKeychainTokenCache::writeData(const ns::Dictionary& query, const ns::Data& data) {
    const ns::Status written = DSKeychainUtil::items().replace(
        query, data, sec::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly);
    forgetDecodedItems();
    return written.ok() ? sec::errSecSuccess : static_cast<sec::OSStatus>(written.error().code());
}

bool DSKeychainTokenCache::addOrUpdateItem(const DSTokenCacheItem* item,
                                           const std::optional<ns::UUID>& correlationId,
                                           DSErrorOut error) {
    dispatch::ScopedLock lock(*lock_);
    if (!item) {
        dsSetError(error,
                   DSAuthenticationError::errorFromArgument(std::nullopt, "item", correlationId));
        return false;
    }
    std::shared_ptr<const DSTokenCacheKey> key = item->extractKey(error);
    if (!key) return false;
    const ns::Dictionary query = queryDictionaryForKey(key.get(), item->storageUserId(), {});
    std::optional<ns::Data> data = DSKeyedArchiver::archivedDataWithRootObject(item->encode());
    if (!data) {
        dsSetError(error, DSAuthenticationError::errorFromAuthenticationError(
                              DS_ERROR_CACHE_BAD_FORMAT, std::nullopt,
                              "Failed to archive keychain item", correlationId));
        return false;
    }
    const sec::OSStatus status = writeData(query, *data);
    // A write that finds nothing did not happen: a failure, not a success.
    return !checkStatus(status == sec::errSecItemNotFound ? sec::errSecInternalComponent : status,
                        "update", correlationId, error);
}

sec::OSStatus DSKeychainTokenCache::deleteItem(const DSTokenCacheItem* item, DSErrorOut error) {
    if (!item) {
        DSLogger::logInvalidArgument("InvalidArgumentError: item");
        dsSetError(error,
                   DSAuthenticationError::errorFromArgument(std::nullopt, "item", std::nullopt));
        return sec::errSecSuccess;
    }
    std::shared_ptr<const DSTokenCacheKey> key = item->extractKey(error);
    if (!key) return sec::errSecSuccess;
    // An item without user is filed under the user id "", so that is the account to delete:
    // leaving the account out would delete every user's item of the key.
    const sec::OSStatus status =
        sec::SecItemDelete(queryDictionaryForKey(key.get(), item->storageUserId(), {}));
    forgetDecodedItems();
    return status;
}

bool DSKeychainTokenCache::removeItem(const DSTokenCacheItem* item, DSErrorOut error) {
    if (!item) {
        DSLogger::logInvalidArgument("InvalidArgumentError: item");
        dsSetError(error,
                   DSAuthenticationError::errorFromArgument(std::nullopt, "item", std::nullopt));
        return false;
    }
    item->logMessage("Removing", DS_LOG_LEVEL_INFO, std::nullopt);
    dispatch::ScopedLock lock(*lock_);
    const sec::OSStatus status = deleteItem(item, error);
    if (status == sec::errSecSuccess && !dsIsStringNilOrBlank(item->refreshToken())) {
        std::shared_ptr<DSTokenCacheItem> tombstone = item->copy();
        tombstone->makeTombstone({{"errorDetails", "Manually removed from cache."}});
        return addOrUpdateItem(tombstone.get(), std::nullopt, error);
    }
    return !checkStatus(status, "delete", std::nullopt, error);
}

void DSKeychainTokenCache::logNoLiveItem(const DSTokenCacheItems& items,
                                         const std::optional<ns::UUID>&) {
    logTombstones(items);
}

void DSKeychainTokenCache::logTombstones(const DSTokenCacheItems& items) {
    for (const auto& item : items) {
        if (item->tombstone()) item->logMessage(std::nullopt, DS_LOG_LEVEL_WARN, std::nullopt);
    }
}

void DSKeychainTokenCache::logItem(const DSTokenCacheItem& item, const std::string& message,
                                   const std::optional<ns::UUID>& correlationId) {
    item.logMessage(message, DS_LOG_LEVEL_VERBOSE, correlationId);
}

std::string DSKeychainTokenCache::getTokenNameForLog(const DSTokenCacheItem& item) {
    if (!dsIsStringNilOrBlank(item.accessToken())) {
        std::string name = item.isExpired() ? "expired AT" : "AT";
        if (!dsIsStringNilOrBlank(item.refreshToken())) name += "+RT";
        return name;
    }
    if (item.clientId() && item.clientId()->starts_with("foci-")) return "FRT";
    if (!dsIsStringNilOrBlank(item.refreshToken()) && dsIsStringNilOrBlank(item.resource()))
        return "MRRT";
    return "unknown token";
}

// ---------------------------------------------------------------------------------------------
// Maintenance: the daily purge of tombstones and the bulk removals.

ns::Dictionary DSKeychainTokenCache::cleanTimeQuery() const {
    ns::Dictionary query = defaultTombstone_;
    query[sec::kSecAttrService] = kCleanTimeService;
    return query;
}

std::optional<ns::Date> DSKeychainTokenCache::getTombstoneCleanTime() const {
    ns::Result<ns::Data> stored = DSKeychainUtil::items().data(cleanTimeQuery());
    if (!stored) return std::nullopt;
    ns::Result<DSArchiveValue> root =
        DSKeyedUnarchiver::unarchive(*stored, DSKeyedUnarchiver::foundationClasses());
    if (!root) return std::nullopt;
    return root->dateValue();
}

void DSKeychainTokenCache::storeTombstoneCleanTime(const ns::Date& date) {
    std::optional<ns::Data> data =
        DSKeyedArchiver::archivedDataWithRootObject(DSArchiveValue::date(date));
    if (!data) return;
    writeData(cleanTimeQuery(), *data);
}

bool DSKeychainTokenCache::isTimeToCleanTombstones() {
    const ns::Date now = ns::Date::now();
    std::optional<ns::Date> next = getTombstoneCleanTime();
    // A time more than one interval ahead cannot have been stored by this schedule (a clock
    // set back, a damaged item): it would stop the purge for as long, so it counts as absent.
    if (next && *next > now && *next <= now.dateByAddingTimeInterval(kCleanInterval)) return false;
    storeTombstoneCleanTime(now.dateByAddingTimeInterval(kCleanInterval));
    return true;
}

bool DSKeychainTokenCache::cleanTombstoneIfNecessary() {
    if (!isTimeToCleanTombstones()) return false;
    std::optional<DSTokenCacheItems> tombstones = allTombstones(nullptr);
    if (!tombstones) return true;
    const ns::Date now = ns::Date::now();
    for (const auto& tombstone : *tombstones) {
        if (tombstone->expiresOn() && *tombstone->expiresOn() >= now) continue;
        std::shared_ptr<const DSTokenCacheKey> key = tombstone->extractKey();
        if (!key) continue;
        ns::passTestPoint(kPurgeListedPoint);
        // The slot is read again under the writers' lock: a live token, or a new tombstone,
        // written there since the list was made must not go with the tombstone it replaced.
        dispatch::ScopedLock lock(*lock_);
        std::optional<ns::Array> current =
            keychainItemsWithKey(key.get(), tombstone->storageUserId(), nullptr);
        if (!current || current->size() != 1) continue;
        std::shared_ptr<DSTokenCacheItem> stored = itemFromKeychainAttributes(current->front());
        if (!stored || !stored->tombstone()) continue;
        if (stored->expiresOn() && *stored->expiresOn() >= now) continue;
        ns::passTestPoint(kPurgeDeletingPoint);
        deleteItem(stored.get(), nullptr);
    }
    return true;
}

bool DSKeychainTokenCache::removeAllForClientId(const std::string& clientId, DSErrorOut error) {
    CacheContext context;
    const ns::Dictionary info{{"operation", "removeAllForClientId:"}, {"clientId", clientId}};
    DSLogger::log(DS_LOG_LEVEL_WARN, &context,
                  ns::format("Removing all items for client <%@>", clientId), DS_ERROR_SUCCEEDED,
                  std::nullopt, std::nullopt, &info);
    return removeItemsWhere(
        [&](const DSTokenCacheItem& item) { return item.clientId() == clientId; }, error);
}

bool DSKeychainTokenCache::removeItemsWhere(
    const std::function<bool(const DSTokenCacheItem&)>& matches, DSErrorOut error) {
    std::optional<DSTokenCacheItems> items = allItems(error);
    if (!items) return false;
    bool result = true;
    for (const auto& item : *items) {
        if (!matches(*item)) continue;
        std::optional<DSAuthenticationError> failure;
        if (!removeItem(item.get(), &failure)) {
            result = false;
            if (failure) dsSetError(error, *failure);
        }
    }
    return result;
}

bool DSKeychainTokenCache::removeAllForUserId(const std::string& userId,
                                              const std::string& clientId, DSErrorOut error) {
    CacheContext context;
    const ns::Dictionary info{
        {"operation", "removeAllForUserId:clientId:"}, {"clientId", clientId}, {"userId", userId}};
    DSLogger::logFormat(DS_LOG_LEVEL_WARN, &context,
                        ns::format("Removing all items for user + client <%@>", clientId),
                        DS_ERROR_SUCCEEDED, std::nullopt, &info, "userId: %@", userId);
    return removeItemsWhere(
        [&](const DSTokenCacheItem& item) {
            return item.clientId() == clientId && item.userInformation() &&
                   item.userInformation()->userId() == userId;
        },
        error);
}

void DSKeychainTokenCache::testRemoveAll(DSErrorOut error) {
    CacheContext context;
    DSLogger::log(DS_LOG_LEVEL_ERROR, &context,
                  "******** -testRemoveAll: being called in DSKeychainTokenCache. This method "
                  "should NEVER be called in production code. ********",
                  DS_ERROR_SUCCEEDED, std::nullopt, std::nullopt);
    dispatch::ScopedLock lock(*lock_);
    checkStatus(sec::SecItemDelete(default_), "remove all", std::nullopt, error);
    checkStatus(sec::SecItemDelete(defaultTombstone_), "remove tombstone timestamp", std::nullopt,
                nullptr);
    forgetDecodedItems();
}
