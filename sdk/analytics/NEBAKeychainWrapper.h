#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Data.h"
#include "platform/ns/Value.h"

// Values kept in the device keychain rather than in the application's files, so that they
// outlive a reinstall: generic passwords of the app ID's service, one per identifier,
// readable only on this device.
class NEBAKeychainWrapper {
public:
    // None when either text is empty.
    static std::optional<ns::Dictionary> searchDirectoryForIdentifier(std::string_view identifier,
                                                                      std::string_view appID);
    static bool upsertKeychainValue(std::string_view value, std::string_view identifier,
                                    std::string_view appID);
    static std::optional<std::string> keychainValueWithIdentifier(std::string_view identifier,
                                                                  std::string_view appID);
    static std::optional<ns::Data> keychainDataWithIdentifier(std::string_view identifier,
                                                              std::string_view appID);
    static void deleteKeychainValueWithIdentifier(std::string_view identifier,
                                                  std::string_view appID);
};
