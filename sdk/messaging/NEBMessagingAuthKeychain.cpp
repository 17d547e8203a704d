#include "sdk/messaging/NEBMessagingAuthKeychain.h"

#include "platform/sec/SecItem.h"

ns::Dictionary NEBMessagingAuthKeychain::keychainQueryForService(const std::string& service,
                                                                 const std::string& account,
                                                                 const std::string& generic) {
    return ns::Dictionary{{sec::kSecClass, sec::kSecClassGenericPassword},
                          {sec::kSecAttrGeneric, generic},
                          {sec::kSecAttrAccount, account},
                          {sec::kSecAttrService, service}};
}

const char* NEBMessagingAuthKeychain::keychainItemAccessibility() {
    return sec::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly;
}

ns::Result<std::optional<std::string>> NEBMessagingAuthKeychain::passwordForService(
    const std::string& service, const std::string& account) const {
    if (service.empty() || account.empty()) return items_.error(kErrorParam);
    auto data = items_.data(keychainQueryForService(service, account));
    if (!data.ok()) return data.error();
    return data->empty() ? std::nullopt : std::optional<std::string>(data->chars());
}

ns::Status NEBMessagingAuthKeychain::removePasswordForService(const std::string& service,
                                                              const std::string& account) {
    if (service.empty() || account.empty()) return items_.error(kErrorParam);
    return items_.remove(keychainQueryForService(service, account));
}

ns::Status NEBMessagingAuthKeychain::setPassword(const std::string& password,
                                                 const std::string& service,
                                                 const std::string& accessibility,
                                                 const std::string& account) {
    if (password.empty()) {
        if (auto removed = removePasswordForService(service, account); !removed) return removed;
        return items_.error(kErrorParam);
    }
    if (service.empty() || account.empty()) return items_.error(kErrorParam);
    return items_.replace(keychainQueryForService(service, account), ns::Data::fromString(password),
                          accessibility.empty() ? keychainItemAccessibility() : accessibility);
}
