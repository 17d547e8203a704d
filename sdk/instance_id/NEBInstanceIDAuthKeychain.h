#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Result.h"
#include "platform/ns/Value.h"
#include "platform/sec/Keychain.h"
#include "platform/sec/KeychainItems.h"
#include "platform/sec/SecItem.h"

// Status of a password call with an empty service or account, or an empty password.
inline constexpr int64_t kNEBInstanceIDKeychainBadParameter = -1301;

// Instance identity's items, errors of the domain "com.nebula.iid" (-25300 for no such item).
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

    ns::Result<std::optional<std::string>> passwordForService(std::string_view service,
                                                              std::string_view account) const {
        return passwords_.password(service, account);
    }
    ns::Status setPassword(std::string_view password, std::string_view service,
                           std::optional<std::string> accessibility, std::string_view account) {
        return passwords_.setPassword(
            password, service, account,
            accessibility.value_or(sec::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly));
    }
    ns::Status removePasswordForService(std::string_view service, std::string_view account) {
        return passwords_.removePassword(service, account);
    }
    ns::Status removeAllItems() {
        return passwords_.items().remove(keychainQueryForService("*", "*"));
    }
    // Every item whose service is exactly this text ("*" included), of any account.
    ns::Status removeItemsOfService(std::string_view service);
    // Prints nothing: the items hold secrets, which stay out of every log.
    static void printKeychainItems() {}

private:
    std::string generic_;
    sec::PasswordItems passwords_;
};
