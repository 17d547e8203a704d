#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "sdk/instance_id/NEBInstanceIDRegistrationClient.h"

class NEBInstanceIDAuthService;

// One registration client per (entity, scope), kept for reuse. Refuses requests until the
// device holds check-in credentials, and a second request for a pair still in flight.
class NEBInstanceIDRegistrar {
public:
    explicit NEBInstanceIDRegistrar(std::shared_ptr<NEBInstanceIDAuthService> authService)
        : authService_(std::move(authService)) {}

    const std::shared_ptr<NEBInstanceIDAuthService>& authService() const { return authService_; }

    void fetchTokenWithAuthorizedEntity(const std::string& entity, const std::string& scope,
                                        std::shared_ptr<NEBInstanceIDKeyPair> keyPair,
                                        const ns::Dictionary& options,
                                        NEBInstanceIDRegistrationClient::TokenHandler handler);
    void deleteTokenWithAuthorizedEntity(const std::string& entity, const std::string& scope,
                                         std::shared_ptr<NEBInstanceIDKeyPair> keyPair,
                                         NEBInstanceIDRegistrationClient::DeleteHandler handler);
    void stopAllRequests();

    std::shared_ptr<NEBInstanceIDRegistrationClient> registrationClientForAuthorizedEntity(
        const std::string& entity, const std::string& scope) const;

private:
    std::shared_ptr<NEBInstanceIDRegistrationClient> clientFor(
        const std::string& entity, const std::string& scope,
        const std::shared_ptr<NEBInstanceIDKeyPair>& keyPair, const ns::Dictionary& options);

    std::shared_ptr<NEBInstanceIDAuthService> authService_;
    mutable dispatch::Mutex mutex_;
    std::map<std::string, std::shared_ptr<NEBInstanceIDRegistrationClient>> clients_
        GUARDED_BY(mutex_);
};
