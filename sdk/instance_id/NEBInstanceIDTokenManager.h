#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Result.h"
#include "sdk/instance_id/NEBInstanceIDCachedToken.h"
#include "sdk/instance_id/NEBInstanceIDRegistrar.h"
#include "sdk/instance_id/NEBInstanceIDStore.h"

// The single door to tokens: answers from the cache, decides staleness (a new application
// version, a changed device token), fetches through the registrar and stores what it gets,
// deletes locally and at the server. Main queue.
class NEBInstanceIDTokenManager : public std::enable_shared_from_this<NEBInstanceIDTokenManager> {
public:
    explicit NEBInstanceIDTokenManager(std::shared_ptr<const NEBServices> services);
    NEBInstanceIDTokenManager(std::shared_ptr<NEBInstanceIDStore> store,
                              std::shared_ptr<const NEBServices> services);

    const std::shared_ptr<NEBInstanceIDRegistrar>& registrar() const { return registrar_; }
    const std::shared_ptr<NEBInstanceIDStore>& instanceIDStore() const { return store_; }
    bool allowMissingAPNSToken() const { return allowMissingAPNSToken_; }
    void setAllowMissingAPNSToken(bool allow);

    NEBInstanceIDCachedToken tokenWithAuthorizedEntity(const std::string& entity,
                                                       const std::string& scope,
                                                       const ns::Dictionary& options);
    void fetchNewTokenWithAuthorizedEntity(const std::string& entity, const std::string& scope,
                                           std::shared_ptr<NEBInstanceIDKeyPair> keyPair,
                                           const ns::Dictionary& options,
                                           NEBInstanceIDRegistrationClient::TokenHandler handler);
    void deleteTokenWithAuthorizedEntity(const std::string& entity, const std::string& scope,
                                         std::shared_ptr<NEBInstanceIDKeyPair> keyPair,
                                         NEBInstanceIDRegistrationClient::DeleteHandler handler);
    void deleteAllTokensWithKeyPair(std::shared_ptr<NEBInstanceIDKeyPair> keyPair,
                                    NEBInstanceIDRegistrationClient::DeleteHandler handler);
    ns::Status deleteAllTokensLocally();
    bool invalidateCachedTokenWithAuthorizedEntity(const std::string& entity,
                                                   const std::string& scope,
                                                   const ns::Dictionary& options);
    bool shouldResetTokenOnAppVersion() const;
    bool shouldResetTokenOnAPNSToken(const std::optional<std::string>& token, bool isSandbox);

private:
    std::shared_ptr<NEBInstanceIDStore> store_;
    std::shared_ptr<NEBInstanceIDRegistrar> registrar_;
    bool allowMissingAPNSToken_ = false;
};
