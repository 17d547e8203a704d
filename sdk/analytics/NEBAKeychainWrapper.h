#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/sec/KeychainItems.h"

// Values kept in the device keychain rather than in the application's files, so that they
// outlive a reinstall: generic passwords of the app ID's service, one per identifier, readable
// only on this device, each written whole in one step. Every operation refuses an empty
// identifier or app ID. Any thread.
class NEBAKeychainWrapper {
public:
    explicit NEBAKeychainWrapper(sec::Keychain& keychain);

    static std::optional<ns::Dictionary> searchDirectoryForIdentifier(std::string_view identifier,
                                                                      std::string_view appID);
    bool upsertKeychainValue(std::string_view value, std::string_view identifier,
                             std::string_view appID) const;
    std::optional<std::string> keychainValueWithIdentifier(std::string_view identifier,
                                                           std::string_view appID) const;
    std::optional<ns::Data> keychainDataWithIdentifier(std::string_view identifier,
                                                       std::string_view appID) const;
    // Nothing there counts as done.
    bool deleteKeychainValueWithIdentifier(std::string_view identifier,
                                           std::string_view appID) const;

private:
    sec::KeychainItems items_;
};
