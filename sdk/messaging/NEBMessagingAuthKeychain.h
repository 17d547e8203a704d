#pragma once

#include <optional>
#include <string>

#include "platform/ns/Result.h"
#include "platform/sec/Keychain.h"
#include "platform/sec/KeychainItems.h"

// Generic-password items that all carry one generic attribute value (as text), on the
// keychain's item store. Failures are errors of the domain "com.nebula.msg" with the keychain
// status as code; an empty service or account, or an empty password, is kErrorParam.
class NEBMessagingAuthKeychain {
public:
    static constexpr const char* kErrorDomain = "com.nebula.msg";
    static constexpr int64_t kErrorParam = -1301;

    explicit NEBMessagingAuthKeychain(std::string identifier,
                                      sec::Keychain& keychain = sec::Keychain::shared())
        : generic_(std::move(identifier)), items_(kErrorDomain, keychain) {}

    const std::string& generic() const { return generic_; }
    static ns::Dictionary keychainQueryForService(const std::string& service,
                                                  const std::string& account,
                                                  const std::string& generic);
    ns::Dictionary keychainQueryForService(const std::string& service,
                                           const std::string& account) const {
        return keychainQueryForService(service, account, generic_);
    }
    // Accessible after the first unlock, on this device only.
    static const char* keychainItemAccessibility();

    // The item's data as UTF-8 text; nothing when it is empty.
    ns::Result<std::optional<std::string>> passwordForService(const std::string& service,
                                                              const std::string& account) const;
    // Succeeds also when there was nothing to remove.
    ns::Status removePasswordForService(const std::string& service, const std::string& account);
    // Replaces the item in one step (an empty accessibility is the default one); an empty
    // password only removes it.
    ns::Status setPassword(const std::string& password, const std::string& service,
                           const std::string& accessibility, const std::string& account);

private:
    std::string generic_;
    sec::KeychainItems items_;
};
