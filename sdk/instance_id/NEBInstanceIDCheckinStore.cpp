#include "sdk/instance_id/NEBInstanceIDCheckinStore.h"

#include "platform/sec/SecBase.h"
#include "sdk/instance_id/NEBInstanceIDErrors.h"
#include "sdk/instance_id/NEBInstanceIDLogger.h"

namespace {

std::string stringFor(const ns::Dictionary& dictionary, std::string_view key) {
    auto found = dictionary.find(key);
    if (found == dictionary.end() || !found->second.string()) return {};
    return *found->second.string();
}

ns::Status removeCredentials(NEBInstanceIDAuthKeychain& keychain) {
    auto removed = keychain.removePasswordForService(kNEBInstanceIDCheckinKeychainService,
                                                     kNEBInstanceIDCheckinKeychainAccount);
    if (!removed.ok()) {
        NEBInstanceIDLoggerError("Failed to remove checkin auth credentials from Keychain %@",
                                 removed.error());
    }
    return removed;
}

}  // namespace

NEBInstanceIDCheckinStore::NEBInstanceIDCheckinStore(std::string plistFileName,
                                                     std::string applicationSupportSubDirectory,
                                                     sec::Keychain& keychain)
    : NEBInstanceIDCheckinStore(
          std::make_shared<NEBInstanceIDBackupExcludedPlist>(
              std::move(plistFileName), std::move(applicationSupportSubDirectory)),
          std::make_shared<NEBInstanceIDAuthKeychain>(kNEBInstanceIDCheckinKeychainGeneric,
                                                      keychain)) {}

NEBInstanceIDCheckinStore::NEBInstanceIDCheckinStore(
    std::shared_ptr<NEBInstanceIDBackupExcludedPlist> plist,
    std::shared_ptr<NEBInstanceIDAuthKeychain> keychain)
    : plist_(std::move(plist)), keychain_(std::move(keychain)) {}

bool NEBInstanceIDCheckinStore::hasCheckinPlist() const {
    return plist_->doesFileExist();
}

ns::Status NEBInstanceIDCheckinStore::saveCheckinPreferences(
    const NEBInstanceIDCheckinPreferences& preferences) {
    auto keychainContent = preferences.checkinKeychainContent();
    auto plistContents = preferences.checkinPlistContents();
    if (!keychainContent || plistContents.empty()) {
        return NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeInvalidRequest);
    }
    bool wroteKeychain = false;
    if (!preferences.hasPreCachedAuthCredentials()) {
        auto stored = keychain_->setPassword(*keychainContent, kNEBInstanceIDCheckinKeychainService,
                                             std::nullopt, kNEBInstanceIDCheckinKeychainAccount);
        if (!stored.ok()) return stored;
        wroteKeychain = true;
    }
    auto written = plist_->writeDictionary(plistContents);
    if (!written.ok()) {
        // Credentials without their plist must not outlive this save (the caller hears of the
        // write, the log of a failed removal); those that this save did not touch stay.
        if (wroteKeychain) (void)removeCredentials(*keychain_);
        return written;
    }
    return {};
}

ns::Status NEBInstanceIDCheckinStore::removeCheckinPreferences() {
    auto removed = removeCredentials(*keychain_);
    return removed.ok() ? plist_->deleteFile() : removed;
}

std::optional<NEBInstanceIDCheckinPreferences>
NEBInstanceIDCheckinStore::cachedCheckinPreferences() {
    auto read = keychain_->passwordForService(kNEBInstanceIDCheckinKeychainService,
                                              kNEBInstanceIDCheckinKeychainAccount);
    if (!read.ok()) {
        if (read.error().code() != sec::errSecItemNotFound) {
            NEBInstanceIDLoggerError("Failed to read checkin auth credentials from keychain %@",
                                     read.error());
            return std::nullopt;
        }
    }
    std::optional<NEBInstanceIDCheckinPreferences> fromKeychain;
    bool keychainHadItem = read.ok() && read->has_value();
    if (keychainHadItem) {
        fromKeychain = NEBInstanceIDCheckinPreferences::preferencesFromKeychainContents(**read);
        if (!fromKeychain) {
            NEBInstanceIDLoggerError(
                "Cannot parse invalid checkin auth credentials in Keychain. Will delete "
                "credentials");
        }
    }
    ns::Dictionary plist = plist_->contentAsDictionary().value_or(ns::Dictionary{});
    std::string oldDeviceID = stringFor(plist, kNEBInstanceIDDeviceAuthIdKey);
    std::string oldSecret = stringFor(plist, kNEBInstanceIDSecretTokenKey);

    std::optional<NEBInstanceIDCheckinPreferences> chosen;
    if (fromKeychain) {
        chosen = fromKeychain;
        if (plist.size() == 6 && !oldDeviceID.empty() && !oldSecret.empty()) {
            chosen.emplace(oldDeviceID, oldSecret);
        }
    } else if (!oldDeviceID.empty() && !oldSecret.empty()) {
        chosen.emplace(oldDeviceID, oldSecret);
    } else {
        return std::nullopt;
    }
    chosen->updateWithCheckinPlistContents(plist);
    return chosen;
}
