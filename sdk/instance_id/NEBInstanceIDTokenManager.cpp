#include "sdk/instance_id/NEBInstanceIDTokenManager.h"

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/QueueContract.h"
#include "sdk/instance_id/NEBInstanceIDAuthService.h"
#include "sdk/instance_id/NEBInstanceIDErrors.h"
#include "sdk/instance_id/NEBInstanceIDLogger.h"
#include "sdk/instance_id/NEBInstanceIDUtilities.h"

namespace {

bool isTiedToDeviceToken(std::string_view scope) {
    return NEBInstanceIDIsMessagingScope(scope) || NEBInstanceIDIsDefaultScope(scope);
}

std::optional<std::string> apnsTokenOption(const ns::Dictionary& options) {
    auto found = options.find("apns_token");
    if (found == options.end() || !found->second.string()) return std::nullopt;
    return *found->second.string();
}

bool sandboxOption(const ns::Dictionary& options) {
    auto found = options.find("apns_sandbox");
    return found != options.end() && found->second.boolValue();
}

}  // namespace

NEBInstanceIDTokenManager::NEBInstanceIDTokenManager(std::shared_ptr<const NEBServices> services)
    : NEBInstanceIDTokenManager(NEBInstanceIDStore::defaultStore(services), services) {}

NEBInstanceIDTokenManager::NEBInstanceIDTokenManager(std::shared_ptr<NEBInstanceIDStore> store,
                                                     std::shared_ptr<const NEBServices> services)
    : store_(std::move(store)),
      registrar_(std::make_shared<NEBInstanceIDRegistrar>(
          NEBInstanceIDAuthService::withStore(store_, std::move(services)))) {}

void NEBInstanceIDTokenManager::setAllowMissingAPNSToken(bool allow) {
    allowMissingAPNSToken_ = allow;
    registrar_->authService()->setAllowMissingAPNSToken(allow);
}

bool NEBInstanceIDTokenManager::shouldResetTokenOnAppVersion() const {
    auto saved = store_->currentSavedAppVersion();
    std::string current = NEBInstanceIDCurrentAppVersion();
    if (saved) return *saved != current;
    return !current.empty();
}

bool NEBInstanceIDTokenManager::shouldResetTokenOnAPNSToken(const std::optional<std::string>& token,
                                                            bool isSandbox) {
    auto saved = store_->cachedAPNSTokenForServerType(isSandbox);
    if (!saved && !token) return false;
    return !(saved && token && *saved == *token);
}

NEBInstanceIDCachedToken NEBInstanceIDTokenManager::tokenWithAuthorizedEntity(
    const std::string& entity, const std::string& scope, const ns::Dictionary& options) {
    auto cached = store_->tokenWithAuthorizedEntity(entity, scope);
    if (shouldResetTokenOnAppVersion()) {
        return NEBInstanceIDCachedToken("", NEBInstanceIDCachedToken::kInvalidateAll);
    }
    if (isTiedToDeviceToken(scope) && cached && !cached->empty() && !allowMissingAPNSToken_ &&
        shouldResetTokenOnAPNSToken(apnsTokenOption(options), sandboxOption(options))) {
        return NEBInstanceIDCachedToken("", NEBInstanceIDCachedToken::kInvalidateAll);
    }
    if (cached && !cached->empty()) {
        return NEBInstanceIDCachedToken(std::move(*cached), NEBInstanceIDCachedToken::kValid);
    }
    return NEBInstanceIDCachedToken("", NEBInstanceIDCachedToken::kNone);
}

bool NEBInstanceIDTokenManager::invalidateCachedTokenWithAuthorizedEntity(
    const std::string&, const std::string& scope, const ns::Dictionary& options) {
    bool app = shouldResetTokenOnAppVersion();
    bool sandbox = sandboxOption(options);
    bool apns = isTiedToDeviceToken(scope) && !allowMissingAPNSToken_ &&
                shouldResetTokenOnAPNSToken(apnsTokenOption(options), sandbox);
    bool removed = false;
    if (app || apns) removed = store_->removeAllMSGTokens().ok();
    std::string reason;
    if (apns) {
        reason += "APNS token changed, ";
        store_->removeCachedAPNSTokenForServerType(sandbox);
    }
    if (app) reason += "App Version updated, ";
    if (!reason.empty()) {
        if (removed) {
            NEBInstanceIDLoggerInfo("%@ Did reset cached tokens", reason);
        } else {
            NEBInstanceIDLoggerInfo("%@ Failed to reset cached tokens", reason);
        }
    }
    return removed;
}

void NEBInstanceIDTokenManager::fetchNewTokenWithAuthorizedEntity(
    const std::string& entity, const std::string& scope,
    std::shared_ptr<NEBInstanceIDKeyPair> keyPair, const ns::Dictionary& options,
    NEBInstanceIDRegistrationClient::TokenHandler handler) {
    HYB_EXPECT_MAIN_THREAD();
    std::weak_ptr<NEBInstanceIDTokenManager> weak = weak_from_this();
    registrar_->fetchTokenWithAuthorizedEntity(
        entity, scope, std::move(keyPair), options,
        [weak, entity, scope, options, handler](std::optional<std::string> token,
                                                std::optional<ns::Error> error) {
            if (error) return handler(std::nullopt, error);
            auto self = weak.lock();
            if (!self || !token || token->empty()) {
                return handler(std::nullopt,
                               NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeUnknown));
            }
            if (!self->store_->saveToken(*token, entity, scope)) {
                return handler(std::nullopt,
                               NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeTokenNotStored));
            }
            if (isTiedToDeviceToken(scope)) {
                if (auto apns = apnsTokenOption(options); apns && !apns->empty()) {
                    self->store_->saveAPNSToken(*apns, sandboxOption(options));
                }
            }
            self->store_->saveAppVersion();
            handler(token, std::nullopt);
        });
}

void NEBInstanceIDTokenManager::deleteTokenWithAuthorizedEntity(
    const std::string& entity, const std::string& scope,
    std::shared_ptr<NEBInstanceIDKeyPair> keyPair,
    NEBInstanceIDRegistrationClient::DeleteHandler handler) {
    HYB_EXPECT_MAIN_THREAD();
    if (store_->tokenWithAuthorizedEntity(entity, scope)) {
        if (store_->cacheTimeForTokenWithAuthorizedEntity(entity, scope) == 0) {
            NEBInstanceIDLoggerError("Invalid 0 cache time for entity: %@, scope: %@", entity,
                                     scope);
        }
        store_->removeCachedTokenWithAuthorizedEntity(entity, scope);
    }
    registrar_->deleteTokenWithAuthorizedEntity(entity, scope, std::move(keyPair),
                                                std::move(handler));
}

ns::Status NEBInstanceIDTokenManager::deleteAllTokensLocally() {
    return store_->removeAllCachedTokens();
}

void NEBInstanceIDTokenManager::deleteAllTokensWithKeyPair(
    std::shared_ptr<NEBInstanceIDKeyPair> keyPair,
    NEBInstanceIDRegistrationClient::DeleteHandler handler) {
    HYB_EXPECT_MAIN_THREAD();
    if (!deleteAllTokensLocally().ok()) {
        dispatch::Queue::main().async([handler] {
            if (handler)
                handler(NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeDeleteAllFailed));
        });
        return;
    }
    registrar_->deleteTokenWithAuthorizedEntity("*", "*", std::move(keyPair), std::move(handler));
}
