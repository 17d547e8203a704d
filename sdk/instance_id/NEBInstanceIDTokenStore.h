#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Result.h"
#include "sdk/instance_id/NEBInstanceIDAuthKeychain.h"

inline constexpr const char* kNEBInstanceIDTokenKeychainIdentifier = "com.nebula.iid-tokens";

// Fetched tokens in the keychain: one item per entity (account) and scope (service), whose
// value is "<save time in seconds>|Token|<token>".
class NEBInstanceIDTokenStore {
public:
    explicit NEBInstanceIDTokenStore(std::shared_ptr<NEBInstanceIDAuthKeychain> keychain)
        : keychain_(std::move(keychain)) {}
    static std::shared_ptr<NEBInstanceIDTokenStore> defaultStore(sec::Keychain& keychain);

    // "|T|<entity>|<scope>".
    static std::string cacheKeyForAuthorizedEntity(std::string_view entity, std::string_view scope);
    static std::string cacheValueForToken(std::string_view token);
    // The text after the first "|Token|"; nothing when the marker is missing or ends the value.
    static std::optional<std::string> actualTokenFromCachedToken(std::string_view cached);
    // The number before the first "|Token|"; 0 when missing, at the start, or not a number.
    static int64_t cacheTimeForCachedToken(std::string_view cached);

    std::optional<std::string> tokenWithAuthorizedEntity(std::string_view entity,
                                                         std::string_view scope) const;
    int64_t cacheTimeForTokenWithAuthorizedEntity(std::string_view entity,
                                                  std::string_view scope) const;
    bool saveToken(std::string_view token, std::string_view entity, std::string_view scope);
    ns::Status removeTokenWithAuthorizedEntity(std::string_view entity, std::string_view scope);
    ns::Status removeMSGTokens();
    ns::Status removeAllTokens();

private:
    std::optional<std::string> cachedValue(std::string_view entity, std::string_view scope) const;

    std::shared_ptr<NEBInstanceIDAuthKeychain> keychain_;
};
