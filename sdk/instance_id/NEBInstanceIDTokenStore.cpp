#include "sdk/instance_id/NEBInstanceIDTokenStore.h"

#include <charconv>

#include "sdk/instance_id/NEBInstanceIDLogger.h"
#include "sdk/instance_id/NEBInstanceIDUtilities.h"

namespace {

constexpr std::string_view kTokenMarker = "|Token|";

// Where the token starts in a cached value: after the first marker, when something follows it.
std::optional<size_t> tokenStart(std::string_view cached) {
    auto at = cached.find(kTokenMarker);
    if (at == std::string_view::npos || at + kTokenMarker.size() >= cached.size()) {
        return std::nullopt;
    }
    return at + kTokenMarker.size();
}

}  // namespace

std::shared_ptr<NEBInstanceIDTokenStore> NEBInstanceIDTokenStore::defaultStore(
    sec::Keychain& keychain) {
    return std::make_shared<NEBInstanceIDTokenStore>(std::make_shared<NEBInstanceIDAuthKeychain>(
        kNEBInstanceIDTokenKeychainIdentifier, keychain));
}

std::string NEBInstanceIDTokenStore::cacheKeyForAuthorizedEntity(std::string_view entity,
                                                                 std::string_view scope) {
    return "|T|" + std::string(entity) + "|" + std::string(scope);
}

std::string NEBInstanceIDTokenStore::cacheValueForToken(std::string_view token) {
    return std::to_string(NEBInstanceIDCurrentTimestampInSeconds()) + std::string(kTokenMarker) +
           std::string(token);
}

std::optional<std::string> NEBInstanceIDTokenStore::actualTokenFromCachedToken(
    std::string_view cached) {
    auto start = tokenStart(cached);
    if (!start) return std::nullopt;
    return std::string(cached.substr(*start));
}

int64_t NEBInstanceIDTokenStore::cacheTimeForCachedToken(std::string_view cached) {
    auto at = cached.find(kTokenMarker);
    if (at == std::string_view::npos || at == 0) return 0;
    int64_t seconds = 0;
    auto digits = cached.substr(0, at);
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), seconds);
    if (error != std::errc() || end != digits.data() + digits.size()) return 0;
    return seconds;
}

std::optional<std::string> NEBInstanceIDTokenStore::cachedValue(std::string_view entity,
                                                                std::string_view scope) const {
    auto read = keychain_->passwordForService(scope, entity);
    if (!read.ok()) return std::nullopt;
    return std::move(read).value();
}

std::optional<std::string> NEBInstanceIDTokenStore::tokenWithAuthorizedEntity(
    std::string_view entity, std::string_view scope) const {
    auto value = cachedValue(entity, scope);
    if (!value) return std::nullopt;
    // The token is the value's tail: the stamp is cut off in place rather than copied around it.
    auto start = tokenStart(*value);
    if (!start) return std::nullopt;
    value->erase(0, *start);
    return value;
}

int64_t NEBInstanceIDTokenStore::cacheTimeForTokenWithAuthorizedEntity(
    std::string_view entity, std::string_view scope) const {
    auto value = cachedValue(entity, scope);
    if (!value) return 0;
    int64_t time = cacheTimeForCachedToken(*value);
    if (time == 0) {
        NEBInstanceIDLoggerError("Cannot decode cached IID token to get cache time %@",
                                 NEBInstanceIDLogHash(*value));
    }
    return time;
}

bool NEBInstanceIDTokenStore::saveToken(std::string_view token, std::string_view entity,
                                        std::string_view scope) {
    std::string value = cacheValueForToken(token);
    if (auto stored = cachedValue(entity, scope); stored && *stored == token) return true;
    auto written = keychain_->setPassword(value, scope, std::nullopt, entity);
    if (!written.ok()) {
        NEBInstanceIDLoggerError("Error unable to save iid-token to keychain %@", written.error());
        return false;
    }
    NEBInstanceIDLoggerInfo("Cached new token for authorizedEntity: %@, scope: %@", entity, scope);
    return true;
}

ns::Status NEBInstanceIDTokenStore::removeTokenWithAuthorizedEntity(std::string_view entity,
                                                                    std::string_view scope) {
    auto removed = keychain_->removePasswordForService(scope, entity);
    if (removed.ok()) {
        NEBInstanceIDLoggerInfo(
            "Successfully removed token from keychain for auth entity: %@ scope: %@", entity,
            scope);
    } else {
        NEBInstanceIDLoggerError("Error failed to delete token from Keychain %@", removed.error());
    }
    return removed;
}

ns::Status NEBInstanceIDTokenStore::removeMSGTokens() {
    // Messaging tokens are saved under their own scopes ("*" and "ncm"), so those go too: a
    // stale token left there would be served again instead of being fetched anew.
    ns::Status removed;
    for (const char* service : {"MSG", kNEBInstanceIDDefaultScope, kNEBInstanceIDScopeNCM}) {
        auto one = keychain_->removeItemsOfService(service);
        if (!one.ok()) removed = one;
    }
    if (removed.ok()) {
        NEBInstanceIDLoggerInfo("Successfully removed all MSG tokens");
    } else {
        NEBInstanceIDLoggerError("Error failed to delete all MSG tokens from keychain %@",
                                 removed.error());
    }
    return removed;
}

ns::Status NEBInstanceIDTokenStore::removeAllTokens() {
    auto removed = keychain_->removeAllItems();
    if (removed.ok()) {
        NEBInstanceIDLoggerInfo("Successfully removed all IID tokens");
    } else {
        NEBInstanceIDLoggerError("Error failed to remove all tokens from keychain %@",
                                 removed.error());
    }
    return removed;
}
