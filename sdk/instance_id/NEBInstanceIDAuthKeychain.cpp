#include "sdk/instance_id/NEBInstanceIDAuthKeychain.h"

#include "platform/sec/SecItem.h"
#include "sdk/instance_id/NEBInstanceIDErrors.h"

namespace {

bool names(std::string_view value) {
    return !value.empty() && value != "*";
}

}  // namespace

NEBInstanceIDAuthKeychain::NEBInstanceIDAuthKeychain(std::string identifier,
                                                     sec::Keychain& keychain)
    : generic_(std::move(identifier)), items_(kNEBInstanceIDDomain, keychain) {}

ns::Dictionary NEBInstanceIDAuthKeychain::keychainQueryForService(std::string_view service,
                                                                  std::string_view account,
                                                                  std::string_view generic) {
    ns::Dictionary query{{sec::kSecClass, sec::kSecClassGenericPassword}};
    if (names(generic)) query[sec::kSecAttrGeneric] = ns::Data::fromString(generic);
    if (names(account)) query[sec::kSecAttrAccount] = std::string(account);
    if (names(service)) query[sec::kSecAttrService] = std::string(service);
    return query;
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
    auto read = std::make_shared<ReadQuery>(
        ReadQuery{std::string(service), std::string(account), itemQuery(service, account)});
    read->query.insert_or_assign(sec::kSecReturnData, true);
    read->query.insert_or_assign(sec::kSecMatchLimit, sec::kSecMatchLimitOne);
    std::lock_guard lock(readQueryMutex_);
    lastRead_ = read;
    return read;
}

ns::Result<std::optional<std::string>> NEBInstanceIDAuthKeychain::passwordForService(
    std::string_view service, std::string_view account) const {
    if (service.empty() || account.empty()) return items_.error(kNEBInstanceIDKeychainBadParameter);
    auto data = items_.data(readQueryFor(service, account)->query);
    if (!data.ok()) return data.error();
    if (data->empty()) return std::optional<std::string>();
    return std::optional<std::string>(std::string(data->chars()));
}

ns::Status NEBInstanceIDAuthKeychain::setPassword(std::string_view password,
                                                  std::string_view service,
                                                  std::optional<std::string> accessibility,
                                                  std::string_view account) {
    if (service.empty() || account.empty()) return items_.error(kNEBInstanceIDKeychainBadParameter);
    if (password.empty()) {
        // An empty password removes what was there and is refused, as an add of no data is.
        if (auto removed = items_.remove(itemQuery(service, account)); !removed) return removed;
        return items_.error(kNEBInstanceIDKeychainBadParameter);
    }
    return items_.replace(
        itemQuery(service, account), ns::Data::fromString(password),
        accessibility.value_or(sec::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly));
}

ns::Status NEBInstanceIDAuthKeychain::removePasswordForService(std::string_view service,
                                                               std::string_view account) {
    if (service.empty() || account.empty()) return items_.error(kNEBInstanceIDKeychainBadParameter);
    return items_.remove(itemQuery(service, account));
}

ns::Status NEBInstanceIDAuthKeychain::removeAllItems() {
    return items_.remove(keychainQueryForService("*", "*"));
}

ns::Status NEBInstanceIDAuthKeychain::removeItemsOfService(std::string_view service) {
    auto query = keychainQueryForService({}, {});
    query[sec::kSecAttrService] = std::string(service);
    return items_.remove(query);
}
