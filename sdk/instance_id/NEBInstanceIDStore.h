#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/core/NEBServices.h"
#include "sdk/instance_id/NEBInstanceIDBackupExcludedPlist.h"
#include "sdk/instance_id/NEBInstanceIDCheckinCache.h"
#include "sdk/instance_id/NEBInstanceIDCheckinStore.h"
#include "sdk/instance_id/NEBInstanceIDTokenStore.h"

inline constexpr const char* kNEBInstanceIDTokenPlistFileName = "com.nebula.iid-tokens";
inline constexpr const char* kNEBInstanceIDLibraryVersionKey = "NMSInstanceID-version";
inline constexpr const char* kNEBInstanceIDAppVersionKey = "com.nebula.iid-app_version";

// The persistence front of instance identity: tokens (keychain), check-in (keychain and
// plist), the token plist with the last device token per server type, and the saved
// application and library versions (user defaults). Creating a store detects a reinstall
// (the keychain outlives the sandbox) and cleans up after it, once per installation.
class NEBInstanceIDStore : public NEBInstanceIDCheckinCache {
public:
    // `registrationLimits`: those of the deletions a reinstall sends for the tokens of the
    // check-in it finds (NEBRequestPolicies::registration).
    NEBInstanceIDStore(std::shared_ptr<NEBInstanceIDBackupExcludedPlist> tokenPlist,
                       std::shared_ptr<NEBInstanceIDCheckinStore> checkinStore,
                       std::shared_ptr<NEBInstanceIDTokenStore> tokenStore,
                       NEBRequestLimits registrationLimits);
    static std::shared_ptr<NEBInstanceIDStore> defaultStore(
        const std::shared_ptr<const NEBServices>& services);

    static std::optional<std::string> authorizedEntityInTokenCacheKey(std::string_view key);
    static std::optional<std::string> scopeInTokenCacheKey(std::string_view key);

    std::optional<std::string> tokenWithAuthorizedEntity(std::string_view entity,
                                                         std::string_view scope) const;
    int64_t cacheTimeForTokenWithAuthorizedEntity(std::string_view entity,
                                                  std::string_view scope) const;
    bool saveToken(std::string_view token, std::string_view entity, std::string_view scope);
    void removeCachedTokenWithAuthorizedEntity(std::string_view entity, std::string_view scope);
    ns::Status removeAllCachedTokens();
    ns::Status removeAllMSGTokens();

    std::optional<std::string> cachedAPNSTokenForServerType(bool isSandbox);
    void saveAPNSToken(std::string_view token, bool isSandbox);
    void removeCachedAPNSTokenForServerType(bool isSandbox);
    static std::string apnsTokenCacheKeyForServerType(bool isSandbox);

    ns::Status saveCheckinPreferences(const NEBInstanceIDCheckinPreferences& preferences) override;
    std::optional<NEBInstanceIDCheckinPreferences> cachedCheckinPreferences() override;
    ns::Status removeCheckinPreferences() override;

    void saveAppVersion();
    std::optional<std::string> currentSavedAppVersion() const;
    bool hasSavedAppVersion() const;
    void saveLibraryVersion();
    std::optional<std::string> currentSavedLibraryVersion() const;
    bool hasSavedLibraryVersion() const;

    static bool hasApplicationSupportSubDirectory(std::string_view subDirectory);
    static std::string pathForApplicationSupportSubDirectory(std::string_view subDirectory);
    static bool createApplicationSupportSubDirectory(std::string_view subDirectory);
    static ns::Status removeApplicationSupportSubDirectory(std::string_view subDirectory);

    void resetNewApp();
    void deleteMSGTokensOnAppReset(const NEBInstanceIDCheckinPreferences& old) const;

private:
    std::shared_ptr<NEBInstanceIDBackupExcludedPlist> tokenPlist_;
    std::shared_ptr<NEBInstanceIDCheckinStore> checkinStore_;
    std::shared_ptr<NEBInstanceIDTokenStore> tokenStore_;
    const NEBRequestLimits registrationLimits_;
};
