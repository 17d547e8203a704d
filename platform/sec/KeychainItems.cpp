#include "platform/sec/KeychainItems.h"

#include "platform/ns/FaultSeam.h"
#include "platform/sec/Keychain.h"
#include "platform/sec/SecItem.h"

namespace sec {

KeychainItems::KeychainItems(std::string errorDomain, Keychain& keychain)
    : errorDomain_(std::move(errorDomain)), keychain_(keychain) {}

namespace {

bool isTrue(const ns::Dictionary& query, const char* key) {
    auto found = query.find(key);
    return found != query.end() && found->second.boolean() == std::optional<bool>(true);
}

bool asksForOneItemsData(const ns::Dictionary& query) {
    auto limit = query.find(kSecMatchLimit);
    return isTrue(query, kSecReturnData) && !query.contains(kSecReturnAttributes) &&
           limit != query.end() && limit->second.string() &&
           *limit->second.string() == kSecMatchLimitOne;
}

}  // namespace

ns::Result<ns::Data> KeychainItems::data(const ns::Dictionary& query) const {
    ns::Value result;
    OSStatus status;
    if (asksForOneItemsData(query)) {
        status = keychain_.copyMatching(query, &result);
    } else {
        ns::Dictionary read = query;
        read.erase(kSecReturnAttributes);
        read.insert_or_assign(kSecReturnData, true);
        read.insert_or_assign(kSecMatchLimit, kSecMatchLimitOne);
        status = keychain_.copyMatching(read, &result);
    }
    if (status != errSecSuccess) return error(status);
    const auto* data = result.data();
    return data ? *data : ns::Data();
}

ns::Status KeychainItems::replace(const ns::Dictionary& item, const ns::Data& data,
                                  const std::string& accessibility) const {
    const OSStatus status = keychain_.replace(
        item, ns::Dictionary{{kSecValueData, data}, {kSecAttrAccessible, accessibility}});
    if (status != errSecSuccess) return error(status);
    return {};
}

ns::Result<std::optional<std::string>> KeychainItems::text(const ns::Dictionary& query) const {
    auto read = data(query);
    if (!read.ok()) return read.error();
    if (read->empty()) return std::optional<std::string>();
    return std::optional<std::string>(std::string(read->chars()));
}

ns::Status KeychainItems::remove(const ns::Dictionary& query) const {
    const OSStatus status = keychain_.remove(query);
    if (status != errSecSuccess && status != errSecItemNotFound) return error(status);
    return {};
}

ns::Result<ns::Dictionary> KeychainItems::attributesAddingIfMissing(
    const ns::Dictionary& query, const ns::Dictionary& added) const {
    ns::Dictionary asked = query;
    asked.insert_or_assign(kSecReturnAttributes, true);
    ns::Value result;
    OSStatus status = keychain_.copyMatching(asked, &result);
    if (status == errSecItemNotFound) {
        ns::passTestPoint(kAddingMissingPoint);
        ns::Dictionary item = asked;
        for (const auto& [key, value] : added) item.insert_or_assign(key, value);
        status = keychain_.add(item, &result);
        // Another caller added it in between: its item is the one.
        if (status == errSecDuplicateItem) status = keychain_.copyMatching(asked, &result);
    }
    if (status != errSecSuccess) return error(status);
    const auto* attributes = result.dictionary();
    return attributes ? *attributes : ns::Dictionary();
}

PasswordItems::PasswordItems(std::string errorDomain, Keychain& keychain, ns::Value generic,
                             OSStatus badParameter)
    : items_(std::move(errorDomain), keychain),
      generic_(std::move(generic)),
      badParameter_(badParameter) {}

ns::Dictionary PasswordItems::itemQuery(const ns::Value& generic, std::string_view service,
                                        std::string_view account) {
    return ns::Dictionary{{kSecClass, kSecClassGenericPassword},
                          {kSecAttrGeneric, generic},
                          {kSecAttrAccount, std::string(account)},
                          {kSecAttrService, std::string(service)}};
}

std::shared_ptr<const ns::Dictionary> PasswordItems::readQuery(std::string_view service,
                                                               std::string_view account) const {
    dispatch::Lock lock(readMutex_);
    if (!lastRead_ || lastRead_->service != service || lastRead_->account != account) {
        ns::Dictionary query = itemQuery(generic_, service, account);
        query.insert_or_assign(kSecReturnData, true);
        query.insert_or_assign(kSecMatchLimit, kSecMatchLimitOne);
        lastRead_ = std::make_shared<const ReadQuery>(
            ReadQuery{std::string(service), std::string(account), std::move(query)});
    }
    return {lastRead_, &lastRead_->query};
}

ns::Result<std::optional<std::string>> PasswordItems::password(std::string_view service,
                                                               std::string_view account) const {
    if (refused(service, account)) return items_.error(badParameter_);
    return items_.text(*readQuery(service, account));
}

ns::Status PasswordItems::setPassword(std::string_view password, std::string_view service,
                                      std::string_view account,
                                      const std::string& accessibility) const {
    if (refused(service, account)) return items_.error(badParameter_);
    const auto item = itemQuery(generic_, service, account);
    if (!password.empty())
        return items_.replace(item, ns::Data::fromString(password), accessibility);
    if (auto removed = items_.remove(item); !removed) return removed;
    return items_.error(badParameter_);
}

ns::Status PasswordItems::removePassword(std::string_view service, std::string_view account) const {
    if (refused(service, account)) return items_.error(badParameter_);
    return items_.remove(itemQuery(generic_, service, account));
}

}  // namespace sec
