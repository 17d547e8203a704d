#include "sdk/messaging/NEBMessagingAuthKeychain.h"

#include "platform/sec/SecItem.h"

namespace {

ns::Error keychainError(int64_t status) {
    return ns::Error(NEBMessagingAuthKeychain::kErrorDomain, status);
}

}  // namespace

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
    if (service.empty() || account.empty()) return keychainError(kErrorParam);
    ns::Dictionary query = keychainQueryForService(service, account);
    query.insert_or_assign(sec::kSecReturnData, true);
    query.insert_or_assign(sec::kSecMatchLimit, sec::kSecMatchLimitOne);
    ns::Value result;
    sec::OSStatus status = sec::SecItemCopyMatching(query, &result);
    if (status != sec::errSecSuccess) return keychainError(status);
    if (!result.data() || result.data()->empty()) return std::optional<std::string>();
    return std::optional<std::string>(std::string(result.data()->chars()));
}

ns::Status NEBMessagingAuthKeychain::removePasswordForService(const std::string& service,
                                                              const std::string& account) {
    if (service.empty() || account.empty()) return keychainError(kErrorParam);
    sec::OSStatus status = sec::SecItemDelete(keychainQueryForService(service, account));
    if (status != sec::errSecSuccess && status != sec::errSecItemNotFound) {
        return keychainError(status);
    }
    return {};
}

ns::Status NEBMessagingAuthKeychain::setPassword(const std::string& password,
                                                 const std::string& service,
                                                 const std::string& accessibility,
                                                 const std::string& account) {
    if (service.empty() || account.empty()) return keychainError(kErrorParam);
    if (auto removed = removePasswordForService(service, account); !removed) return removed;
    if (password.empty()) return keychainError(kErrorParam);
    ns::Dictionary item = keychainQueryForService(service, account);
    item.insert_or_assign(sec::kSecValueData, ns::Data::fromString(password));
    item.insert_or_assign(sec::kSecAttrAccessible,
                          accessibility.empty() ? keychainItemAccessibility() : accessibility);
    sec::OSStatus status = sec::SecItemAdd(item);
    if (status != sec::errSecSuccess) return keychainError(status);
    return {};
}
