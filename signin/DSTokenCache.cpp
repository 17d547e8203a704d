#include "signin/DSTokenCache.h"

#include <cstdlib>

#include "platform/ns/Format.h"
#include "signin/DSKeyedArchiver.h"
#include "signin/DSKeyedUnarchiver.h"
#include "signin/DSLogger.h"

namespace {

const std::set<std::string>& blobClasses() {
    static const std::set<std::string>* classes = [] {
        auto* set = new std::set<std::string>(DSTokenCacheItem::archiveClasses());
        set->insert(DSTokenCacheKey::kClassName);
        return set;
    }();
    return *classes;
}

DSAuthenticationError badFormat(const char* details) {
    return DSAuthenticationError::errorFromAuthenticationError(DS_ERROR_CACHE_BAD_FORMAT,
                                                               std::nullopt, details, std::nullopt);
}

// The version as the float the format was read with; texts read as their numeric prefix.
float versionOf(const DSArchiveValue& value) {
    if (std::optional<double> n = value.number()) return static_cast<float>(*n);
    if (const std::string* text = value.string()) return std::strtof(text->c_str(), nullptr);
    return 0;
}

}  // namespace

std::shared_ptr<DSTokenCache> DSTokenCache::defaultCache() {
    static std::shared_ptr<DSTokenCache>* cache =
        new std::shared_ptr<DSTokenCache>(std::make_shared<DSTokenCache>());
    return *cache;
}

std::shared_ptr<DSTokenCacheDelegate> DSTokenCache::delegate() const {
    dispatch::Lock lock(delegateMutex_);
    return delegate_;
}

void DSTokenCache::setDelegate(std::shared_ptr<DSTokenCacheDelegate> delegate) {
    {
        dispatch::Lock lock(delegateMutex_);
        if (delegate == delegate_) return;
    }
    {
        dispatch::ScopedLock lock(lock_);
        dispatch::Lock guard(delegateMutex_);
        delegate_ = delegate;
        cache_.reset();
    }
    if (delegate) {
        delegate->willAccessCache(*this);
        delegate->didAccessCache(*this);
    }
}

DSArchiveValue DSTokenCache::snapshot() const {
    DSArchiveValue::Pairs content;
    if (cache_->tokens) {
        DSArchiveValue::Pairs users;
        for (const auto& [userId, items] : *cache_->tokens) {
            DSArchiveValue::Pairs entries;
            entries.reserve(items.size());
            for (const auto& [key, item] : items)
                entries.emplace_back(key.encode(), item->encode());
            users.emplace_back(DSArchiveValue::text(userId),
                               DSArchiveValue::dictionary(std::move(entries), true));
        }
        content.emplace_back(DSArchiveValue::text("tokens"),
                             DSArchiveValue::dictionary(std::move(users), true));
    }
    for (const auto& pair : cache_->others) content.push_back(pair);
    return DSArchiveValue::dictionary(
        {{DSArchiveValue::text("tokenCache"), DSArchiveValue::dictionary(std::move(content), true)},
         {DSArchiveValue::text("version"), DSArchiveValue::real(kCacheVersion)}},
        false);
}

std::optional<ns::Data> DSTokenCache::serialize() {
    DSArchiveValue root;
    {
        dispatch::SharedLock lock(lock_);
        if (!cache_) return std::nullopt;
        // A deep snapshot: writers may go on while it is archived.
        root = snapshot();
    }
    std::optional<ns::Data> blob = DSKeyedArchiver::archivedDataWithRootObject(root);
    if (!blob) {
        DSLogger::log(DS_LOG_LEVEL_ERROR, this, "Failed to serialize the cache!",
                      DS_ERROR_CACHE_BAD_FORMAT, std::nullopt, std::nullopt);
    }
    return blob;
}

std::optional<DSTokenCache::Content> DSTokenCache::validateCache(const DSArchiveValue& root,
                                                                 DSErrorOut error) {
    auto fail = [&](int64_t code, const char* details) -> std::optional<Content> {
        dsSetError(error, DSAuthenticationError::errorFromAuthenticationError(
                              code, std::nullopt, details, std::nullopt));
        return std::nullopt;
    };
    if (!root.pairs())
        return fail(DS_ERROR_CACHE_BAD_FORMAT, "Root level object of cache is not a NSDictionary!");
    const DSArchiveValue* version = root.member("version");
    if (!version) return fail(DS_ERROR_CACHE_BAD_FORMAT, "Missing version number from cache.");
    if (!(versionOf(*version) <= static_cast<float>(kCacheVersion)))
        return fail(DS_ERROR_CACHE_VERSION_MISMATCH, "Cache is a future unsupported version.");
    const DSArchiveValue* tokenCache = root.member("tokenCache");
    if (!tokenCache) return fail(DS_ERROR_CACHE_BAD_FORMAT, "Missing token cache from data.");
    if (!tokenCache->pairs() || !tokenCache->isMutable())
        return fail(DS_ERROR_CACHE_BAD_FORMAT, "Cache is not a dictionary!");
    Content content;
    const DSArchiveValue* tokens = nullptr;
    for (const auto& [key, value] : *tokenCache->pairs()) {
        if (key.string() && *key.string() == "tokens" && !tokens) {
            tokens = &value;
        } else {
            content.others.emplace_back(key, value);
        }
    }
    if (!tokens) return content;
    if (!tokens->pairs() || !tokens->isMutable())
        return fail(DS_ERROR_CACHE_BAD_FORMAT, "tokens must be a mutable dictionary.");
    content.tokens.emplace();
    for (const auto& [user, items] : *tokens->pairs()) {
        if (!user.string())
            return fail(DS_ERROR_CACHE_BAD_FORMAT, "User ID key is not of the expected class type");
        if (!items.pairs() || !items.isMutable())
            return fail(DS_ERROR_CACHE_BAD_FORMAT,
                        "User ID should have mutable dictionaries in the cache");
        UserItems& userItems = (*content.tokens)[*user.string()];
        for (const auto& [archivedKey, archivedItem] : *items.pairs()) {
            std::shared_ptr<const DSTokenCacheKey> key = DSTokenCacheKey::decode(archivedKey);
            if (!key)
                return fail(DS_ERROR_CACHE_BAD_FORMAT, "Key is not of the expected class type");
            std::shared_ptr<DSTokenCacheItem> item = DSTokenCacheItem::decode(archivedItem);
            if (!item)
                return fail(DS_ERROR_CACHE_BAD_FORMAT, "Token is not of the expected class type!");
            userItems.insert_or_assign(*key, std::move(item));
        }
    }
    return content;
}

bool DSTokenCache::adoptBlob(const std::optional<ns::Data>& data, BlobSource source,
                             DSErrorOut error) {
    dispatch::ScopedLock lock(lock_);
    if (!data) {
        if (source == BlobSource::Update) {
            if (cache_) {
                DSLogger::log(DS_LOG_LEVEL_WARN, this,
                              "nil data provided to -updateCache, dropping old cache", 0,
                              std::nullopt, std::nullopt);
            } else {
                DSLogger::log(DS_LOG_LEVEL_INFO, this, "No data provided for cache.", 0,
                              std::nullopt, std::nullopt);
            }
        }
        cache_.reset();
        return true;
    }
    ns::Result<DSArchiveValue> root = DSKeyedUnarchiver::unarchive(*data, blobClasses());
    if (!root || (source == BlobSource::Update && root->isNil())) {
        dsSetError(error, badFormat(source == BlobSource::Deserialize
                                        ? "Failed to unarchive data blob from -deserialize!"
                                        : "Unable to unarchive data provided by cache storage!"));
        return false;
    }
    if (root->isNil()) return false;
    std::optional<Content> content = validateCache(*root, error);
    if (!content) return false;
    cache_ = std::move(*content);
    return true;
}

bool DSTokenCache::deserialize(const std::optional<ns::Data>& data, DSErrorOut error) {
    return adoptBlob(data, BlobSource::Deserialize, error);
}

bool DSTokenCache::updateCache(const std::optional<ns::Data>& data, DSErrorOut error) {
    return adoptBlob(data, BlobSource::Update, error);
}

DSTokenCacheItems DSTokenCache::collect(const DSTokenCacheKey* key,
                                        const std::optional<std::string>& userId) const {
    DSTokenCacheItems found;
    if (!cache_ || !cache_->tokens) return found;
    auto collectUser = [&](const UserItems& items) {
        if (key) {
            if (auto it = items.find(*key); it != items.end()) found.push_back(it->second->copy());
            return;
        }
        for (const auto& [k, item] : items) found.push_back(item->copy());
    };
    if (userId) {
        if (auto it = cache_->tokens->find(*userId); it != cache_->tokens->end())
            collectUser(it->second);
    } else {
        for (const auto& [user, items] : *cache_->tokens) collectUser(items);
    }
    return found;
}

std::optional<DSTokenCacheItems> DSTokenCache::getItemsWithKey(
    const DSTokenCacheKey* key, const std::optional<std::string>& userId,
    const std::optional<ns::UUID>&, DSErrorOut) {
    std::shared_ptr<DSTokenCacheDelegate> d = delegate();
    if (d) d->willAccessCache(*this);
    DSTokenCacheItems items;
    {
        dispatch::SharedLock lock(lock_);
        items = collect(key, userId);
    }
    if (d) d->didAccessCache(*this);
    return items;
}

bool DSTokenCache::addOrUpdateItem(const DSTokenCacheItem* item,
                                   const std::optional<ns::UUID>& correlationId, DSErrorOut error) {
    std::shared_ptr<DSTokenCacheDelegate> d = delegate();
    if (d) d->willWriteCache(*this);
    bool result = false;
    if (!item) {
        dsSetError(error,
                   DSAuthenticationError::errorFromArgument(std::nullopt, "item", correlationId));
    } else {
        std::shared_ptr<DSTokenCacheItem> copy = item->copy();
        if (std::shared_ptr<const DSTokenCacheKey> key = copy->extractKey(error)) {
            dispatch::ScopedLock lock(lock_);
            if (!cache_) cache_.emplace();
            if (!cache_->tokens) cache_->tokens.emplace();
            (*cache_->tokens)[copy->storageUserId()].insert_or_assign(*key, std::move(copy));
            result = true;
        }
    }
    if (d) d->didWriteCache(*this);
    return result;
}

bool DSTokenCache::removeItem(const DSTokenCacheItem* item, DSErrorOut error) {
    std::shared_ptr<DSTokenCacheDelegate> d = delegate();
    if (d) d->willWriteCache(*this);
    bool result = false;
    if (!item) {
        dsSetError(error,
                   DSAuthenticationError::errorFromArgument(std::nullopt, "item", std::nullopt));
    } else if (std::shared_ptr<const DSTokenCacheKey> key = item->extractKey(error)) {
        dispatch::ScopedLock lock(lock_);
        if (cache_ && cache_->tokens) {
            if (auto user = cache_->tokens->find(item->storageUserId());
                user != cache_->tokens->end()) {
                user->second.erase(*key);
                if (user->second.empty()) cache_->tokens->erase(user);
            }
        }
        result = true;
    }
    if (d) d->didWriteCache(*this);
    return result;
}

void DSTokenCache::logNoLiveItem(const DSTokenCacheItems& items,
                                 const std::optional<ns::UUID>& correlationId) {
    for (const auto& item : items) item->logMessage("Found", DS_LOG_LEVEL_WARN, correlationId);
}

std::string DSTokenCache::description() const {
    dispatch::SharedLock lock(lock_);
    std::string text = "{";
    if (cache_ && cache_->tokens) {
        for (const auto& [user, items] : *cache_->tokens) {
            text += ns::format(" %@: {", DSLogger::getHash(user).value_or(""));
            for (const auto& [key, item] : items) text += " " + item->description();
            text += " }";
        }
    }
    return ns::format("DSTokenCache: %@", cache_ ? text + " }" : std::string("(null)"));
}
