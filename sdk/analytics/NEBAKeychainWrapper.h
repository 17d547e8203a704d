#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/sec/KeychainItems.h"

// Values that outlive a reinstall: generic passwords of the app ID's service, one per
// identifier, readable only on this device. Every operation refuses an empty identifier or
// app ID; deleting nothing counts as done. Any thread.
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
    bool deleteKeychainValueWithIdentifier(std::string_view identifier,
                                           std::string_view appID) const;

private:
    sec::KeychainItems items_;
};
