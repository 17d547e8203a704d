#include "sdk/analytics/NEBAKeychainWrapper.h"

#include "platform/sec/SecItem.h"

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
                                              std::string_view appID) {
    auto query = searchDirectoryForIdentifier(identifier, appID);
    if (value.empty() || !query) return false;
    ns::Data data = ns::Data::fromString(value);
    if (keychainValueWithIdentifier(identifier, appID)) {
        return sec::SecItemUpdate(*query, {{sec::kSecValueData, ns::Value(data)}}) ==
               sec::errSecSuccess;
    }
    auto attributes = *query;
    attributes[sec::kSecValueData] = ns::Value(data);
    attributes[sec::kSecAttrAccessible] = ns::Value(sec::kSecAttrAccessibleAlwaysThisDeviceOnly);
    return sec::SecItemAdd(attributes) == sec::errSecSuccess;
}

std::optional<ns::Data> NEBAKeychainWrapper::keychainDataWithIdentifier(std::string_view identifier,
                                                                        std::string_view appID) {
    auto query = searchDirectoryForIdentifier(identifier, appID);
    if (!query) return std::nullopt;
    (*query)[sec::kSecMatchLimit] = ns::Value(sec::kSecMatchLimitOne);
    (*query)[sec::kSecReturnData] = ns::Value(true);
    ns::Value result;
    if (sec::SecItemCopyMatching(*query, &result) != sec::errSecSuccess) return std::nullopt;
    if (const auto* data = result.data()) return *data;
    return std::nullopt;
}

std::optional<std::string> NEBAKeychainWrapper::keychainValueWithIdentifier(
    std::string_view identifier, std::string_view appID) {
    auto data = keychainDataWithIdentifier(identifier, appID);
    if (!data || data->empty()) return std::nullopt;
    return std::string(data->chars());
}

void NEBAKeychainWrapper::deleteKeychainValueWithIdentifier(std::string_view identifier,
                                                            std::string_view appID) {
    if (auto query = searchDirectoryForIdentifier(identifier, appID)) sec::SecItemDelete(*query);
}
