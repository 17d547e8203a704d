#include "sdk/analytics/NEBAKeychainWrapper.h"

#include "platform/sec/SecItem.h"
#include "sdk/analytics/NSError+NEBAAdditions.h"

NEBAKeychainWrapper::NEBAKeychainWrapper(sec::Keychain& keychain)
    : items_(kNEBAErrorDomain, keychain) {}

std::optional<ns::Dictionary> NEBAKeychainWrapper::searchDirectoryForIdentifier(
    std::string_view identifier, std::string_view appID) {
    if (identifier.empty() || appID.empty()) return std::nullopt;
    ns::Data encoded = ns::Data::fromString(identifier);
    return ns::Dictionary{{sec::kSecClass, ns::Value(sec::kSecClassGenericPassword)},
                          {sec::kSecAttrService, ns::Value(appID)},
                          {sec::kSecAttrAccount, ns::Value(encoded)},
                          {sec::kSecAttrGeneric, ns::Value(encoded)}};
}

bool NEBAKeychainWrapper::upsertKeychainValue(std::string_view value, std::string_view identifier,
                                              std::string_view appID) const {
    auto item = searchDirectoryForIdentifier(identifier, appID);
    if (value.empty() || !item) return false;
    return items_
        .replace(*item, ns::Data::fromString(value), sec::kSecAttrAccessibleAlwaysThisDeviceOnly)
        .ok();
}

std::optional<ns::Data> NEBAKeychainWrapper::keychainDataWithIdentifier(
    std::string_view identifier, std::string_view appID) const {
    auto query = searchDirectoryForIdentifier(identifier, appID);
    if (!query) return std::nullopt;
    auto data = items_.data(*query);
    if (!data) return std::nullopt;
    return *data;
}

std::optional<std::string> NEBAKeychainWrapper::keychainValueWithIdentifier(
    std::string_view identifier, std::string_view appID) const {
    auto data = keychainDataWithIdentifier(identifier, appID);
    if (!data || data->empty()) return std::nullopt;
    return std::string(data->chars());
}

bool NEBAKeychainWrapper::deleteKeychainValueWithIdentifier(std::string_view identifier,
                                                            std::string_view appID) const {
    auto query = searchDirectoryForIdentifier(identifier, appID);
    return query && items_.remove(*query).ok();
}
