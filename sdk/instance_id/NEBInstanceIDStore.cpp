#include "sdk/instance_id/NEBInstanceIDStore.h"

#include "platform/ns/FileManager.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/StringComponents.h"
#include "platform/ns/UserDefaults.h"
#include "sdk/instance_id/NEBInstanceIDLogger.h"
#include "sdk/instance_id/NEBInstanceIDRegistrationClient.h"
#include "sdk/instance_id/NEBInstanceIDUtilities.h"

namespace {

std::optional<std::string> entityWithIndex(std::string_view key, size_t index) {
    const auto pieces = ns::componentsSeparatedByCharacter(key, '|');
    if (pieces.size() != 4 || index >= pieces.size()) return std::nullopt;
    return std::string(pieces[index]);
}

}  // namespace

NEBInstanceIDStore::NEBInstanceIDStore(std::shared_ptr<NEBInstanceIDBackupExcludedPlist> tokenPlist,
                                       std::shared_ptr<NEBInstanceIDCheckinStore> checkinStore,
                                       std::shared_ptr<NEBInstanceIDTokenStore> tokenStore,
                                       NEBRequestLimits registrationLimits)
    : tokenPlist_(std::move(tokenPlist)),
      checkinStore_(std::move(checkinStore)),
      tokenStore_(std::move(tokenStore)),
      registrationLimits_(std::move(registrationLimits)) {
    resetNewApp();
    saveLibraryVersion();
}

std::shared_ptr<NEBInstanceIDStore> NEBInstanceIDStore::defaultStore(
    const std::shared_ptr<const NEBServices>& services) {
    return std::make_shared<NEBInstanceIDStore>(
        std::make_shared<NEBInstanceIDBackupExcludedPlist>(
            kNEBInstanceIDTokenPlistFileName, kNEBInstanceIDApplicationSupportSubDirectory),
        std::make_shared<NEBInstanceIDCheckinStore>(kNEBInstanceIDCheckinPlistName,
                                                    kNEBInstanceIDApplicationSupportSubDirectory,
                                                    services->keychain()),
        NEBInstanceIDTokenStore::defaultStore(services->keychain()),
        services->requests().registration);
}

std::optional<std::string> NEBInstanceIDStore::authorizedEntityInTokenCacheKey(
    std::string_view key) {
    return entityWithIndex(key, 2);
}
std::optional<std::string> NEBInstanceIDStore::scopeInTokenCacheKey(std::string_view key) {
    return entityWithIndex(key, 3);
}

std::optional<std::string> NEBInstanceIDStore::tokenWithAuthorizedEntity(
    std::string_view entity, std::string_view scope) const {
    if (entity.empty() || scope.empty()) return std::nullopt;
    return tokenStore_->tokenWithAuthorizedEntity(entity, scope);
}

int64_t NEBInstanceIDStore::cacheTimeForTokenWithAuthorizedEntity(std::string_view entity,
                                                                  std::string_view scope) const {
    if (entity.empty() || scope.empty()) return 0;
    return tokenStore_->cacheTimeForTokenWithAuthorizedEntity(entity, scope);
}

bool NEBInstanceIDStore::saveToken(std::string_view token, std::string_view entity,
                                   std::string_view scope) {
    return tokenStore_->saveToken(token, entity, scope);
}

void NEBInstanceIDStore::removeCachedTokenWithAuthorizedEntity(std::string_view entity,
                                                               std::string_view scope) {
    if (entity.empty() || scope.empty()) {
        NEBInstanceIDLoggerError("Will not delete token with invalid entity: %@, scope: %@", entity,
                                 scope);
        return;
    }
    (void)tokenStore_->removeTokenWithAuthorizedEntity(entity, scope);  // logs a failure
}

ns::Status NEBInstanceIDStore::removeAllCachedTokens() {
    return tokenStore_->removeAllTokens();
}

ns::Status NEBInstanceIDStore::removeAllMSGTokens() {
    return tokenStore_->removeMSGTokens();
}

std::string NEBInstanceIDStore::apnsTokenCacheKeyForServerType(bool isSandbox) {
    return std::string("|O|NMSInstanceIDApnsTokenKey|") + (isSandbox ? "sandbox" : "prod");
}

std::optional<std::string> NEBInstanceIDStore::cachedAPNSTokenForServerType(bool isSandbox) {
    auto contents = tokenPlist_->contentAsDictionary();
    if (!contents) return std::nullopt;
    auto found = contents->find(apnsTokenCacheKeyForServerType(isSandbox));
    if (found == contents->end() || !found->second.string()) return std::nullopt;
    return *found->second.string();
}

void NEBInstanceIDStore::saveAPNSToken(std::string_view token, bool isSandbox) {
    if (token.empty()) return;
    auto contents = tokenPlist_->contentAsDictionary().value_or(ns::Dictionary{});
    std::string key = apnsTokenCacheKeyForServerType(isSandbox);
    contents[key] = std::string(token);
    if (!tokenPlist_->writeDictionary(contents).ok()) {
        NEBInstanceIDLoggerError("Failed to save APNS token with key %@", key);
    }
}

void NEBInstanceIDStore::removeCachedAPNSTokenForServerType(bool isSandbox) {
    auto contents = tokenPlist_->contentAsDictionary();
    std::string key = apnsTokenCacheKeyForServerType(isSandbox);
    if (!contents || !contents->contains(key)) return;
    contents->erase(key);
    if (!tokenPlist_->writeDictionary(*contents).ok()) {
        NEBInstanceIDLoggerError("Failed to remove APNS token with key %@", key);
    }
}

ns::Status NEBInstanceIDStore::saveCheckinPreferences(
    const NEBInstanceIDCheckinPreferences& preferences) {
    return checkinStore_->saveCheckinPreferences(preferences);
}
std::optional<NEBInstanceIDCheckinPreferences> NEBInstanceIDStore::cachedCheckinPreferences() {
    return checkinStore_->cachedCheckinPreferences();
}
ns::Status NEBInstanceIDStore::removeCheckinPreferences() {
    return checkinStore_->removeCheckinPreferences();
}

void NEBInstanceIDStore::saveAppVersion() {
    ns::UserDefaults::standardUserDefaults()->setObject(kNEBInstanceIDAppVersionKey,
                                                        NEBInstanceIDCurrentAppVersion());
}
std::optional<std::string> NEBInstanceIDStore::currentSavedAppVersion() const {
    return ns::UserDefaults::standardUserDefaults()->stringForKey(kNEBInstanceIDAppVersionKey);
}
bool NEBInstanceIDStore::hasSavedAppVersion() const {
    return currentSavedAppVersion().has_value();
}
void NEBInstanceIDStore::saveLibraryVersion() {
    std::string version = NEBInstanceIDCurrentLibraryVersion();
    auto defaults = ns::UserDefaults::standardUserDefaults();
    defaults->setObject(kNEBInstanceIDLibraryVersionKey, version);
    // The reinstall check reads this at the next launch: it must not wait for a later write.
    defaults->synchronize();
    NEBInstanceIDLoggerInfo("Save InstanceID library version %@", version);
}
std::optional<std::string> NEBInstanceIDStore::currentSavedLibraryVersion() const {
    return ns::UserDefaults::standardUserDefaults()->stringForKey(kNEBInstanceIDLibraryVersionKey);
}
bool NEBInstanceIDStore::hasSavedLibraryVersion() const {
    return currentSavedLibraryVersion().has_value();
}

std::string NEBInstanceIDStore::pathForApplicationSupportSubDirectory(
    std::string_view subDirectory) {
    return ns::Sandbox::applicationSupportDirectory() + "/" + std::string(subDirectory);
}

bool NEBInstanceIDStore::hasApplicationSupportSubDirectory(std::string_view subDirectory) {
    bool isDirectory = false;
    return ns::FileManager::defaultManager().fileExists(
               pathForApplicationSupportSubDirectory(subDirectory), &isDirectory) &&
           isDirectory;
}

bool NEBInstanceIDStore::createApplicationSupportSubDirectory(std::string_view subDirectory) {
    std::string path = pathForApplicationSupportSubDirectory(subDirectory);
    auto& files = ns::FileManager::defaultManager();
    bool isDirectory = false;
    if (!files.fileExists(path, &isDirectory)) {
        auto made = files.createDirectory(path, true);
        if (!made.ok()) {
            NEBInstanceIDLoggerError("Cannot create directory %@, error: %@", path, made.error());
            return false;
        }
        return true;
    }
    if (!isDirectory) {
        NEBInstanceIDLoggerError("Found file instead of directory at %@", path);
        return false;
    }
    return true;
}

ns::Status NEBInstanceIDStore::removeApplicationSupportSubDirectory(std::string_view subDirectory) {
    std::string path = pathForApplicationSupportSubDirectory(subDirectory);
    if (!ns::FileManager::defaultManager().fileExists(path)) return {};
    return ns::FileManager::defaultManager().removeItem(path);
}

void NEBInstanceIDStore::resetNewApp() {
    if (hasSavedLibraryVersion()) return;
    std::optional<NEBInstanceIDCheckinPreferences> old;
    if (checkinStore_->hasCheckinPlist()) {
        NEBInstanceIDLoggerInfo("No InstanceID version found. Checkin plist found.");
    } else {
        old = checkinStore_->cachedCheckinPreferences();
        (void)checkinStore_->removeCheckinPreferences();  // logs a failure
    }
    if (!tokenPlist_->doesFileExist()) (void)tokenStore_->removeAllTokens();  // logs a failure
    if (old) deleteMSGTokensOnAppReset(*old);
}

void NEBInstanceIDStore::deleteMSGTokensOnAppReset(
    const NEBInstanceIDCheckinPreferences& old) const {
    if (old.deviceID().empty() || old.secretToken().empty()) return;
    NEBInstanceIDRegistrationClient::deleteMSGTokenOnAppReset(
        old.deviceID(), old.secretToken(), registrationLimits_, [](std::optional<ns::Error>) {});
}
