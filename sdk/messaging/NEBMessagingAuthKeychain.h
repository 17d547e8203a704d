#pragma once

#include <optional>
#include <string>

#include "platform/ns/Result.h"
#include "platform/sec/Keychain.h"
#include "platform/sec/KeychainItems.h"
#include "platform/sec/SecItem.h"

// Messaging's items, their generic attribute held as text; errors of the domain
// "com.nebula.msg", kErrorParam for an empty service, account or password.
class NEBMessagingAuthKeychain {
public:
    static constexpr const char* kErrorDomain = "com.nebula.msg";
    static constexpr int64_t kErrorParam = -1301;

    explicit NEBMessagingAuthKeychain(std::string identifier,
                                      sec::Keychain& keychain = sec::Keychain::shared())
        : generic_(std::move(identifier)),
          passwords_(kErrorDomain, keychain, generic_, kErrorParam) {}

    const std::string& generic() const { return generic_; }
    static ns::Dictionary keychainQueryForService(const std::string& service,
                                                  const std::string& account,
                                                  const std::string& generic) {
        return sec::PasswordItems::itemQuery(generic, service, account);
    }
    ns::Dictionary keychainQueryForService(const std::string& service,
                                           const std::string& account) const {
        return keychainQueryForService(service, account, generic_);
    }
    static const char* keychainItemAccessibility() {
        return sec::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly;
    }

    ns::Result<std::optional<std::string>> passwordForService(const std::string& service,
                                                              const std::string& account) const {
        return passwords_.password(service, account);
    }
    ns::Status removePasswordForService(const std::string& service, const std::string& account) {
        return passwords_.removePassword(service, account);
    }
    // An empty accessibility is the default one.
    ns::Status setPassword(const std::string& password, const std::string& service,
                           const std::string& accessibility, const std::string& account) {
        return passwords_.setPassword(
            password, service, account,
            accessibility.empty() ? keychainItemAccessibility() : accessibility);
    }

private:
    std::string generic_;
    sec::PasswordItems passwords_;
};
