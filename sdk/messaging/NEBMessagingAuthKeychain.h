#pragma once

#include <optional>
#include <string>

#include "platform/ns/Result.h"
#include "platform/ns/Value.h"

// Generic-password items of the keychain that all carry one generic attribute value.
class NEBMessagingAuthKeychain {
public:
    static constexpr const char* kErrorDomain = "com.nebula.msg";
    static constexpr int64_t kErrorParam = -1301;

    explicit NEBMessagingAuthKeychain(std::string identifier) : generic_(std::move(identifier)) {}

    const std::string& generic() const { return generic_; }
    static ns::Dictionary keychainQueryForService(const std::string& service,
                                                  const std::string& account,
                                                  const std::string& generic);
    ns::Dictionary keychainQueryForService(const std::string& service,
                                           const std::string& account) const {
        return keychainQueryForService(service, account, generic_);
    }
    static const char* keychainItemAccessibility();

    // The item's data as UTF-8 text; nothing when there is none or it is empty.
    ns::Result<std::optional<std::string>> passwordForService(const std::string& service,
                                                              const std::string& account) const;
    // Succeeds also when there was nothing to remove.
    ns::Status removePasswordForService(const std::string& service, const std::string& account);
    // Replaces any item; an empty password only removes.
    ns::Status setPassword(const std::string& password, const std::string& service,
                           const std::string& accessibility, const std::string& account);

private:
    std::string generic_;
};
