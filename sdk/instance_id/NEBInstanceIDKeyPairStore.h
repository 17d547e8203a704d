#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Result.h"
#include "sdk/instance_id/NEBInstanceIDBackupExcludedPlist.h"
#include "sdk/instance_id/NEBInstanceIDKeyPair.h"

inline constexpr const char* kNEBInstanceIDKeyPairStoreFileName = "com.nebula.iid-keypair";

// Decides which key pair the installation uses. The pair lives in the keychain, which
// survives a reinstall; its creation time and instance identifier live in the key-pair plist,
// which does not. A keychain pair without a recorded creation time is left from an earlier
// installation: it is deleted and a new pair made. Any thread; loading holds the store's lock
// for its whole course, so that two loads never make two pairs.
class NEBInstanceIDKeyPairStore {
public:
    explicit NEBInstanceIDKeyPairStore(sec::Keychain& keychain);

    static std::string publicTagWithSubtype(std::string_view subtype);
    static std::string privateTagWithSubtype(std::string_view subtype);
    static std::string creationTimeKeyWithSubtype(std::string_view subtype);
    static std::string appIDKeyWithSubtype(std::string_view subtype);

    ns::Result<std::shared_ptr<NEBInstanceIDKeyPair>> loadKeyPair();
    ns::Result<std::string> appIdentity();
    bool hasCachedKeyPairs();
    ns::Status deleteSavedKeyPairWithSubtype(std::string_view subtype);
    ns::Status removeKeyPairCreationTimePlist();

    ns::Result<std::shared_ptr<NEBInstanceIDKeyPair>> validCachedKeyPairWithSubtype(
        std::string_view subtype);
    ns::Result<std::shared_ptr<NEBInstanceIDKeyPair>> generateAndSaveKeyWithSubtype(
        std::string_view subtype, int64_t creationTime);

private:
    ns::Status deleteSavedKeyPairLocked(std::string_view subtype) REQUIRES(mutex_);

    sec::Keychain& keychain_;
    dispatch::RecursiveMutex mutex_;
    std::shared_ptr<NEBInstanceIDBackupExcludedPlist> plist_ GUARDED_BY(mutex_);
    std::shared_ptr<NEBInstanceIDKeyPair> keyPair_ GUARDED_BY(mutex_);
    int keychainEntitlementsErrorCount_ GUARDED_BY(mutex_) = 0;
    std::optional<ns::Error> lastLoadError_ GUARDED_BY(mutex_);
};
