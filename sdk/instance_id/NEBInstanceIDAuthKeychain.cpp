#include "sdk/instance_id/NEBInstanceIDAuthKeychain.h"

#include "platform/sec/Keychain.h"
#include "platform/sec/SecItem.h"
#include "sdk/instance_id/NEBInstanceIDErrors.h"

namespace {

bool names(std::string_view value) {
    return !value.empty() && value != "*";
}

ns::Error keychainError(int64_t status) {
    return ns::Error(kNEBInstanceIDDomain, status);
}

}  // namespace

ns::Dictionary NEBInstanceIDAuthKeychain::keychainQueryForService(std::string_view service,
                                                                  std::string_view account,
                                                                  std::string_view generic) {
    ns::Dictionary query{{sec::kSecClass, sec::kSecClassGenericPassword}};
    if (names(generic)) query[sec::kSecAttrGeneric] = ns::Data::fromString(generic);
    if (names(account)) query[sec::kSecAttrAccount] = std::string(account);
    if (names(service)) query[sec::kSecAttrService] = std::string(service);
    return query;
}

ns::Dictionary NEBInstanceIDAuthKeychain::keychainQueryForService(std::string_view service,
                                                                  std::string_view account) const {
    return keychainQueryForService(service, account, generic_);
}

ns::Dictionary NEBInstanceIDAuthKeychain::itemQuery(std::string_view service,
                                                    std::string_view account) const {
    return ns::Dictionary{{sec::kSecClass, sec::kSecClassGenericPassword},
                          {sec::kSecAttrGeneric, ns::Data::fromString(generic_)},
                          {sec::kSecAttrAccount, std::string(account)},
                          {sec::kSecAttrService, std::string(service)}};
}

std::shared_ptr<const NEBInstanceIDAuthKeychain::ReadQuery> NEBInstanceIDAuthKeychain::readQueryFor(
    std::string_view service, std::string_view account) const {
    {
        std::lock_guard lock(readQueryMutex_);
        if (lastRead_ && lastRead_->service == service && lastRead_->account == account) {
            return lastRead_;
        }
    }
    auto read = std::make_shared<ReadQuery>();
    read->service = service;
    read->account = account;
    read->query = itemQuery(service, account);
    read->query.insert_or_assign(sec::kSecReturnData, true);
    read->query.insert_or_assign(sec::kSecMatchLimit, sec::kSecMatchLimitOne);
    std::lock_guard lock(readQueryMutex_);
    lastRead_ = read;
    return read;
}

ns::Status NEBInstanceIDAuthKeychain::removeAllItems() {
    sec::OSStatus status = sec::Keychain::shared().remove(keychainQueryForService("*", "*"));
    if (status == sec::errSecSuccess || status == sec::errSecItemNotFound) return {};
    return keychainError(status);
}

ns::Result<std::optional<std::string>> NEBInstanceIDAuthKeychain::passwordForService(
    std::string_view service, std::string_view account) const {
    if (service.empty() || account.empty())
        return keychainError(kNEBInstanceIDKeychainBadParameter);
    const std::shared_ptr<const ReadQuery> read = readQueryFor(service, account);
    ns::Value result;
    sec::OSStatus status = sec::Keychain::shared().copyMatching(read->query, &result);
    if (status != sec::errSecSuccess) return keychainError(status);
    const auto* data = result.data();
    if (!data || data->empty()) return std::optional<std::string>();
    return std::optional<std::string>(std::string(data->chars()));
}

ns::Status NEBInstanceIDAuthKeychain::setPassword(std::string_view password,
                                                  std::string_view service,
                                                  std::optional<std::string> accessibility,
                                                  std::string_view account) {
    if (service.empty() || account.empty())
        return keychainError(kNEBInstanceIDKeychainBadParameter);
    auto query = itemQuery(service, account);
    if (password.empty()) {
        // An empty password removes what was there and is refused, as an add of no data is.
        sec::Keychain::shared().remove(query);
        return keychainError(kNEBInstanceIDKeychainBadParameter);
    }
    ns::Dictionary attributes{
        {sec::kSecValueData, ns::Data::fromString(password)},
        {sec::kSecAttrAccessible,
         accessibility.value_or(sec::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly)}};
    sec::OSStatus status = sec::Keychain::shared().replace(query, attributes);
    if (status != sec::errSecSuccess) return keychainError(status);
    return {};
}

ns::Status NEBInstanceIDAuthKeychain::removePasswordForService(std::string_view service,
                                                               std::string_view account) {
    if (service.empty() || account.empty())
        return keychainError(kNEBInstanceIDKeychainBadParameter);
    sec::OSStatus status = sec::Keychain::shared().remove(itemQuery(service, account));
    if (status == sec::errSecSuccess || status == sec::errSecItemNotFound) return {};
    return keychainError(status);
}

ns::Status NEBInstanceIDAuthKeychain::removeItemsOfService(std::string_view service) {
    auto query = keychainQueryForService({}, {});
    query[sec::kSecAttrService] = std::string(service);
    sec::OSStatus status = sec::Keychain::shared().remove(query);
    if (status == sec::errSecSuccess || status == sec::errSecItemNotFound) return {};
    return keychainError(status);
}
