#include "sdk/instance_id/NEBInstanceIDKeyPairStore.h"

#include "platform/sec/SecBase.h"
#include "sdk/instance_id/NEBInstanceIDErrors.h"
#include "sdk/instance_id/NEBInstanceIDLogger.h"
#include "sdk/instance_id/NEBInstanceIDUtilities.h"

namespace {

constexpr int kMaxEntitlementFailures = 3;

}  // namespace

NEBInstanceIDKeyPairStore::NEBInstanceIDKeyPairStore(sec::Keychain& keychain)
    : keychain_(keychain),
      plist_(std::make_shared<NEBInstanceIDBackupExcludedPlist>(
          kNEBInstanceIDKeyPairStoreFileName, kNEBInstanceIDApplicationSupportSubDirectory)) {}

std::string NEBInstanceIDKeyPairStore::publicTagWithSubtype(std::string_view subtype) {
    return "com.nebula.iid-" + std::string(subtype) + "|P|";
}
std::string NEBInstanceIDKeyPairStore::privateTagWithSubtype(std::string_view subtype) {
    return "com.nebula.iid-" + std::string(subtype) + "|K|";
}
std::string NEBInstanceIDKeyPairStore::creationTimeKeyWithSubtype(std::string_view subtype) {
    return std::string(subtype) + "|S|cre";
}
std::string NEBInstanceIDKeyPairStore::appIDKeyWithSubtype(std::string_view subtype) {
    return std::string(subtype) + "|S|app_id";
}

ns::Result<std::shared_ptr<NEBInstanceIDKeyPair>> NEBInstanceIDKeyPairStore::loadKeyPair() {
    dispatch::ScopedLock lock(mutex_);
    if (keyPair_ && keyPair_->isValid()) return keyPair_;
    if (keychainEntitlementsErrorCount_ >= kMaxEntitlementFailures) {
        return lastLoadError_.value_or(
            ns::Error(kNEBInstanceIDDomain, sec::errSecMissingEntitlement));
    }
    std::optional<ns::Error> error;
    if (!keyPair_) {
        auto cached = validCachedKeyPairWithSubtype("");
        if (cached.ok()) {
            keyPair_ = *cached;
        } else {
            error = cached.error();
        }
    }
    if (error && error->code() == sec::errSecMissingEntitlement) {
        ++keychainEntitlementsErrorCount_;
        lastLoadError_ = error;
        return *error;
    }
    if (error && error->domain() == kNEBInstanceIDDomain &&
        error->code() != kNEBInstanceIDErrorCodeMissingKeyPair &&
        error->code() != kNEBInstanceIDErrorCodeInvalidKeyPairCreationTime) {
        // The keychain failed to answer: the pair may well be there, so none is made over it.
        return *error;
    }
    if (!keyPair_) {
        auto generated =
            generateAndSaveKeyWithSubtype("", NEBInstanceIDCurrentTimestampInSeconds());
        if (!generated.ok()) {
            if (generated.error().code() == sec::errSecMissingEntitlement) {
                ++keychainEntitlementsErrorCount_;
                lastLoadError_ = generated.error();
            }
            return generated.error();
        }
        keyPair_ = *generated;
    }
    return keyPair_;
}

ns::Result<std::shared_ptr<NEBInstanceIDKeyPair>>
NEBInstanceIDKeyPairStore::validCachedKeyPairWithSubtype(std::string_view subtype) {
    dispatch::ScopedLock lock(mutex_);
    auto contents = plist_->contentAsDictionary();
    if (contents && contents->contains(creationTimeKeyWithSubtype(subtype))) {
        return NEBInstanceIDKeyPair::keyPairForPrivateKeyTag(
            keychain_, privateTagWithSubtype(subtype), publicTagWithSubtype(subtype));
    }
    (void)deleteSavedKeyPairLocked(subtype);  // logs a failure; the pair is unusable either way
    return NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeInvalidKeyPairCreationTime);
}

ns::Result<std::shared_ptr<NEBInstanceIDKeyPair>>
NEBInstanceIDKeyPairStore::generateAndSaveKeyWithSubtype(std::string_view subtype,
                                                         int64_t creationTime) {
    dispatch::ScopedLock lock(mutex_);
    auto generated = NEBInstanceIDKeyPair::generateRSA2048KeyPair(
        keychain_, privateTagWithSubtype(subtype), publicTagWithSubtype(subtype));
    if (!generated.ok() || !(*generated)->isValid()) {
        NEBInstanceIDLoggerError("Unable to generate keypair.");
        if (!generated.ok()) return generated.error();
        return NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeMissingKeyPair);
    }
    ns::Dictionary entries = plist_->contentAsDictionary().value_or(ns::Dictionary{});
    entries[creationTimeKeyWithSubtype(subtype)] = creationTime;
    if (auto identity = NEBInstanceIDKeyPair::appIdentityWithKeyPair(**generated);
        identity && !identity->empty()) {
        entries[appIDKeyWithSubtype(subtype)] = *identity;
    }
    auto written = plist_->writeDictionary(entries);
    if (!written.ok()) {
        // deleteKeyPair logs a failure; the save answers the plist's error.
        (void)NEBInstanceIDKeyPair::deleteKeyPair(keychain_, privateTagWithSubtype(subtype),
                                                  publicTagWithSubtype(subtype));
        NEBInstanceIDLoggerError("Failed to save keypair data to plist %@", written.error());
        return written.error();
    }
    return *generated;
}

ns::Status NEBInstanceIDKeyPairStore::deleteSavedKeyPairWithSubtype(std::string_view subtype) {
    dispatch::ScopedLock lock(mutex_);
    return deleteSavedKeyPairLocked(subtype);
}

ns::Status NEBInstanceIDKeyPairStore::deleteSavedKeyPairLocked(std::string_view subtype) {
    auto contents = plist_->contentAsDictionary();
    std::string creationKey = creationTimeKeyWithSubtype(subtype);
    if (contents && contents->contains(creationKey)) {
        contents->erase(creationKey);
        contents->erase(appIDKeyWithSubtype(subtype));
        if (!plist_->writeDictionary(*contents).ok()) {
            NEBInstanceIDLoggerError("Unable to remove keypair creation time from plist %@",
                                     plist_->fileName());
        }
    }
    auto deleted = NEBInstanceIDKeyPair::deleteKeyPair(keychain_, privateTagWithSubtype(subtype),
                                                       publicTagWithSubtype(subtype));
    if (!deleted.ok()) {
        NEBInstanceIDLoggerError("Unable to remove RSA keypair");
        return deleted;
    }
    keyPair_.reset();
    return {};
}

bool NEBInstanceIDKeyPairStore::hasCachedKeyPairs() {
    dispatch::ScopedLock lock(mutex_);
    auto stored = NEBInstanceIDKeyPair::keyPairForPrivateKeyTag(
        keychain_, privateTagWithSubtype(""), publicTagWithSubtype(""));
    if (!stored.ok()) {
        // Only a definite "no such pair" forgets the record; a keychain that failed to answer
        // leaves it, so that the pair is found again once the keychain answers.
        if (stored.error().code() != kNEBInstanceIDErrorCodeMissingKeyPair) return false;
        if (!removeKeyPairCreationTimePlist().ok()) {
            NEBInstanceIDLoggerError("Unable to delete keypair creation times plist");
        }
        return false;
    }
    return true;
}

ns::Status NEBInstanceIDKeyPairStore::removeKeyPairCreationTimePlist() {
    dispatch::ScopedLock lock(mutex_);
    return plist_->deleteFile();
}

ns::Result<std::string> NEBInstanceIDKeyPairStore::appIdentity() {
    dispatch::ScopedLock lock(mutex_);
    auto loaded = loadKeyPair();
    if (loaded.ok()) {
        auto identity = NEBInstanceIDKeyPair::appIdentityWithKeyPair(**loaded);
        if (!identity || identity->empty()) {
            return NEBInstanceIDErrorWithCode(kNEBInstanceIDErrorCodeUnknown);
        }
        return *identity;
    }
    if (loaded.error().code() == sec::errSecMissingEntitlement) {
        // The keychain refuses access: the identifier recorded at generation stays readable.
        auto contents = plist_->contentAsDictionary();
        if (contents) {
            auto found = contents->find(appIDKeyWithSubtype(""));
            if (found != contents->end() && found->second.string()) return *found->second.string();
        }
    }
    return loaded.error();
}
