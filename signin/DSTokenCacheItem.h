#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/ns/Data.h"
#include "platform/ns/Date.h"
#include "platform/ns/UUID.h"
#include "platform/ns/Value.h"
#include "signin/DSArchiveValue.h"
#include "signin/DSAuthenticationError.h"
#include "signin/DSLogger.h"
#include "signin/DSTokenCacheKey.h"
#include "signin/DSUserInformation.h"

// One cached token: what it was issued for, to whom, the tokens with type and expiry, and for
// a removed item its tombstone. Not locked: stores hand out copies, and an item shared between
// threads must not be changed meanwhile.
class DSTokenCacheItem {
public:
    static constexpr const char* kClassName = "DSTokenCacheStoreItem";

    DSTokenCacheItem() = default;

    uint64_t hash() const { return hash_; }
    void calculateHash();

    const std::optional<std::string>& resource() const { return resource_; }
    void setResource(std::optional<std::string> resource);
    const std::optional<std::string>& authority() const { return authority_; }
    void setAuthority(std::optional<std::string> authority);
    const std::optional<std::string>& clientId() const { return clientId_; }
    void setClientId(std::optional<std::string> clientId);
    const std::optional<std::string>& familyId() const { return familyId_; }
    void setFamilyId(std::optional<std::string> v) { familyId_ = std::move(v); }
    const std::optional<std::string>& accessToken() const { return accessToken_; }
    void setAccessToken(std::optional<std::string> v) { accessToken_ = std::move(v); }
    const std::optional<std::string>& accessTokenType() const { return accessTokenType_; }
    void setAccessTokenType(std::optional<std::string> v) { accessTokenType_ = std::move(v); }
    const std::optional<std::string>& refreshToken() const { return refreshToken_; }
    void setRefreshToken(std::optional<std::string> v) { refreshToken_ = std::move(v); }
    const std::optional<ns::Data>& sessionKey() const { return sessionKey_; }
    void setSessionKey(std::optional<ns::Data> v) { sessionKey_ = std::move(v); }
    const std::optional<ns::Date>& expiresOn() const { return expiresOn_; }
    void setExpiresOn(std::optional<ns::Date> v) { expiresOn_ = v; }
    const std::shared_ptr<const DSUserInformation>& userInformation() const {
        return userInformation_;
    }
    void setUserInformation(std::shared_ptr<const DSUserInformation> info);
    const std::optional<ns::Dictionary>& tombstone() const { return tombstone_; }
    const std::optional<ns::Dictionary>& additionalServer() const { return additionalServer_; }
    void setAdditionalServer(std::optional<ns::Dictionary> v) { additionalServer_ = std::move(v); }
    const std::optional<ns::Dictionary>& additionalClient() const { return additionalClient_; }
    void setAdditionalClient(std::optional<ns::Dictionary> v) { additionalClient_ = std::move(v); }

    // The user id the stores file the item under: its user's, or "" without one.
    std::string storageUserId() const;

    bool isEqual(const DSTokenCacheItem& other) const;
    // Raises the invalid-argument exception for an absent other item.
    bool isSameUser(const DSTokenCacheItem* other) const;
    bool isEmptyUser() const { return !userInformation_; }
    bool isExpired() const;
    bool isMultiResourceRefreshToken() const;
    std::shared_ptr<const DSTokenCacheKey> extractKey(DSErrorOut error = nullptr) const;
    std::shared_ptr<DSTokenCacheItem> copy() const;
    // Log-safe: tokens appear only as their log hashes.
    std::string description() const;

    void logMessage(const std::optional<std::string>& message, DSLogLevel level,
                    const std::optional<ns::UUID>& correlationId) const;
    // Turns the item into a tombstone holding the removal details. The tokens and the session
    // key go: a tombstone keeps only what identifies it and its expiry.
    void makeTombstone(const ns::Dictionary& details);

    DSArchiveValue encode() const;
    // Nothing unless the archived object is an item whose fields have their expected kinds.
    static std::shared_ptr<DSTokenCacheItem> decode(const DSArchiveValue& archived);
    // The classes an archived item may contain.
    static const std::set<std::string>& archiveClasses();

private:
    uint64_t hash_ = 0;
    std::optional<std::string> resource_;
    std::optional<std::string> authority_;
    std::optional<std::string> clientId_;
    std::optional<std::string> familyId_;
    std::optional<std::string> accessToken_;
    std::optional<std::string> accessTokenType_;
    std::optional<std::string> refreshToken_;
    std::optional<ns::Data> sessionKey_;
    std::optional<ns::Date> expiresOn_;
    std::shared_ptr<const DSUserInformation> userInformation_;
    std::optional<ns::Dictionary> tombstone_;
    std::optional<ns::Dictionary> additionalServer_;
    std::optional<ns::Dictionary> additionalClient_;
};
