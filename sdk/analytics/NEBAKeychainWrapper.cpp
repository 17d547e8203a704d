#include "sdk/analytics/NEBAKeychainWrapper.h"

#include "platform/sec/SecItem.h"
#include "sdk/analytics/NSError+NEBAAdditions.h"

NEBAKeychainWrapper::NEBAKeychainWrapper(sec::Keychain& keychain)
    : items_(kNEBAErrorDomain, keychain) {}

std::optional<ns::Dictionary> NEBAKeychainWrapper::searchDirectoryForIdentifier(
    std::string_view identifier, std::string_view appID) {
    if (identifier.empty() || appID.empty()) return std::nullopt;
    ns::Data encoded = ns::Data::fromString(identifier);
    return ns::Dictionary{{sec::kSecClass, sec::kSecClassGenericPassword},
                          {sec::kSecAttrService, ns::Value(appID)},
                          {sec::kSecAttrAccount, encoded},
                          {sec::kSecAttrGeneric, encoded}};
}

bool NEBAKeychainWrapper::upsertKeychainValue(std::string_view value, std::string_view identifier,
                                              std::string_view appID) const {
    auto item = searchDirectoryForIdentifier(identifier, appID);
    return !value.empty() && item &&
           items_
               .replace(*item, ns::Data::fromString(value),
                        sec::kSecAttrAccessibleAlwaysThisDeviceOnly)
               .ok();
}

std::optional<ns::Data> NEBAKeychainWrapper::keychainDataWithIdentifier(
    std::string_view identifier, std::string_view appID) const {
    auto query = searchDirectoryForIdentifier(identifier, appID);
    if (!query) return std::nullopt;
    auto data = items_.data(*query);
    return data ? std::optional<ns::Data>(*data) : std::nullopt;
}

std::optional<std::string> NEBAKeychainWrapper::keychainValueWithIdentifier(
    std::string_view identifier, std::string_view appID) const {
    auto query = searchDirectoryForIdentifier(identifier, appID);
    if (!query) return std::nullopt;
    auto text = items_.text(*query);
    return text ? *text : std::nullopt;
}

bool NEBAKeychainWrapper::deleteKeychainValueWithIdentifier(std::string_view identifier,
                                                            std::string_view appID) const {
    auto query = searchDirectoryForIdentifier(identifier, appID);
    return query && items_.remove(*query).ok();
}
