#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Result.h"
#include "platform/ns/Value.h"
#include "platform/sec/Keychain.h"
#include "platform/sec/KeychainItems.h"

// Status of a password call with an empty service or account, or an empty password.
inline constexpr int64_t kNEBInstanceIDKeychainBadParameter = -1301;

// Generic-password items of the keychain that carry one generic attribute, on the keychain's
// item store. Failures are errors of the domain "com.nebula.iid" with the keychain status as
// code (-25300 for no such item).
//
// One item is always addressed by its literal service and account: the default token lives
// under the scope "*", and reading it as "any service" would hand out another scope's token
// (the auth token of the same entity, say). Only the bulk removals match every item.
class NEBInstanceIDAuthKeychain {
public:
    explicit NEBInstanceIDAuthKeychain(std::string identifier,
                                       sec::Keychain& keychain = sec::Keychain::shared());

    const std::string& generic() const { return generic_; }

    // "*" (or empty) for service or account matches any.
    static ns::Dictionary keychainQueryForService(std::string_view service,
                                                  std::string_view account,
                                                  std::string_view generic);
    ns::Dictionary keychainQueryForService(std::string_view service,
                                           std::string_view account) const {
        return keychainQueryForService(service, account, generic_);
    }
    // Service and account exactly as given.
    ns::Dictionary itemQuery(std::string_view service, std::string_view account) const;

    // An empty item reads as nothing, without an error.
    ns::Result<std::optional<std::string>> passwordForService(std::string_view service,
                                                              std::string_view account) const;
    // Replaces the item in one step: a reader sees the old value or the new, never neither.
    ns::Status setPassword(std::string_view password, std::string_view service,
                           std::optional<std::string> accessibility, std::string_view account);
    // A missing item counts as removed.
    ns::Status removePasswordForService(std::string_view service, std::string_view account);
    // Every item of this generic attribute.
    ns::Status removeAllItems();
    // Every item whose service is exactly this text ("*" included), of any account.
    ns::Status removeItemsOfService(std::string_view service);
    // A debugging aid that prints nothing: the items hold secrets, which stay out of every log.
    static void printKeychainItems() {}

private:
    // The query of the item read last: cached token look-ups read one item again and again,
    // and building the query costs a tenth of the read. Any thread may read.
    struct ReadQuery {
        std::string service;
        std::string account;
        ns::Dictionary query;
    };
    std::shared_ptr<const ReadQuery> readQueryFor(std::string_view service,
                                                  std::string_view account) const;

    std::string generic_;
    sec::KeychainItems items_;
    mutable std::mutex readQueryMutex_;
    mutable std::shared_ptr<const ReadQuery> lastRead_;
};
