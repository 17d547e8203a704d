#include "sdk/instance_id/NEBInstanceIDRegistrar.h"

#include "platform/dispatch/Queue.h"
#include "sdk/instance_id/NEBInstanceIDAuthService.h"
#include "sdk/instance_id/NEBInstanceIDErrors.h"

std::shared_ptr<NEBInstanceIDRegistrationClient>
NEBInstanceIDRegistrar::registrationClientForAuthorizedEntity(const std::string& entity,
                                                              const std::string& scope) const {
    dispatch::Lock lock(mutex_);
    auto found = clients_.find(
        NEBInstanceIDRegistrationClient::registrationClientKeyWithAuthorizedEntity(entity, scope));
    return found == clients_.end() ? nullptr : found->second;
}

std::shared_ptr<NEBInstanceIDRegistrationClient> NEBInstanceIDRegistrar::clientFor(
    const std::string& entity, const std::string& scope,
    const std::shared_ptr<NEBInstanceIDKeyPair>& keyPair, const ns::Dictionary& options) {
    std::string key =
        NEBInstanceIDRegistrationClient::registrationClientKeyWithAuthorizedEntity(entity, scope);
    dispatch::Lock lock(mutex_);
    auto& client = clients_[key];
    if (!client) {
        client =
            std::make_shared<NEBInstanceIDRegistrationClient>(authService_, entity, scope, keyPair);
    }
    client->setOptionsForFetchingNewToken(options);
    return client;
}

void NEBInstanceIDRegistrar::fetchTokenWithAuthorizedEntity(
    const std::string& entity, const std::string& scope,
    std::shared_ptr<NEBInstanceIDKeyPair> keyPair, const ns::Dictionary& options,
    NEBInstanceIDRegistrationClient::TokenHandler handler) {
    if (!authService_->hasValidCheckinInfo()) {
        dispatch::Queue::main().async([handler] {
            if (handler) handler(std::nullopt, NEBInstanceIDErrorMissingCheckin());
        });
        return;
    }
    auto client = clientFor(entity, scope, keyPair, options);
    if (client->inProgress()) {
        dispatch::Queue::main().async([handler] {
            if (handler)
                handler(std::nullopt, NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodePending));
        });
        return;
    }
    client->fetchTokenWithHandler(std::move(handler));
}

void NEBInstanceIDRegistrar::deleteTokenWithAuthorizedEntity(
    const std::string& entity, const std::string& scope,
    std::shared_ptr<NEBInstanceIDKeyPair> keyPair,
    NEBInstanceIDRegistrationClient::DeleteHandler handler) {
    if (!authService_->hasValidCheckinInfo()) {
        dispatch::Queue::main().async([handler] {
            if (handler) handler(NEBInstanceIDErrorMissingCheckin());
        });
        return;
    }
    auto client = clientFor(entity, scope, keyPair, {});
    if (client->inProgress()) {
        dispatch::Queue::main().async([handler] {
            if (handler) handler(NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodePending));
        });
        return;
    }
    client->deleteTokenWithHandler(std::move(handler));
}

void NEBInstanceIDRegistrar::stopAllRequests() {
    std::map<std::string, std::shared_ptr<NEBInstanceIDRegistrationClient>> clients;
    {
        dispatch::Lock lock(mutex_);
        clients = clients_;
    }
    for (const auto& [key, client] : clients) client->stopFetching();
    authService_->stopCheckinRequest();
}
