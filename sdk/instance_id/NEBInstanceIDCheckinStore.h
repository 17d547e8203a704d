#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Result.h"
#include "sdk/instance_id/NEBInstanceIDAuthKeychain.h"
#include "sdk/instance_id/NEBInstanceIDBackupExcludedPlist.h"
#include "sdk/instance_id/NEBInstanceIDCheckinPreferences.h"

inline constexpr const char* kNEBInstanceIDCheckinKeychainGeneric = "com.nebula.iid";
inline constexpr const char* kNEBInstanceIDCheckinKeychainService =
    "com.nebula.iid.checkin-service";
inline constexpr const char* kNEBInstanceIDCheckinKeychainAccount =
    "com.nebula.iid.checkin-account";
inline constexpr const char* kNEBInstanceIDCheckinPlistName = "g-checkin";

// The two halves of a check-in: credentials in the keychain (they survive a reinstall),
// bookkeeping in the "g-checkin" plist (it does not). Reads the older layout, in which the
// plist also carried the credentials.
class NEBInstanceIDCheckinStore {
public:
    NEBInstanceIDCheckinStore(std::string plistFileName, std::string applicationSupportSubDirectory,
                              sec::Keychain& keychain);
    NEBInstanceIDCheckinStore(std::shared_ptr<NEBInstanceIDBackupExcludedPlist> plist,
                              std::shared_ptr<NEBInstanceIDAuthKeychain> keychain);

    bool hasCheckinPlist() const;
    ns::Status saveCheckinPreferences(const NEBInstanceIDCheckinPreferences& preferences);
    ns::Status removeCheckinPreferences();
    std::optional<NEBInstanceIDCheckinPreferences> cachedCheckinPreferences();

private:
    std::shared_ptr<NEBInstanceIDBackupExcludedPlist> plist_;
    std::shared_ptr<NEBInstanceIDAuthKeychain> keychain_;
};
