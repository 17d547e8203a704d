#include "sdk/instance_id/NEBInstanceIDBackupExcludedPlist.h"

#include "platform/ns/FileManager.h"
#include "platform/ns/PropertyListSerialization.h"
#include "platform/ns/Sandbox.h"
#include "sdk/instance_id/NEBInstanceIDLogger.h"

namespace {

// The plists hold device credentials' bookkeeping and key records: owner only.
constexpr mode_t kPlistMode = 0600;

}  // namespace

NEBInstanceIDBackupExcludedPlist::NEBInstanceIDBackupExcludedPlist(
    std::string fileName, std::string applicationSupportSubDirectory)
    : fileName_(std::move(fileName)), subDirectory_(std::move(applicationSupportSubDirectory)) {
    dispatch::Lock lock(mutex_);
    inApplicationSupport_ = moveToApplicationSupportSubDirectoryLocked();
}

bool NEBInstanceIDBackupExcludedPlist::fileInApplicationSupport() const {
    dispatch::Lock lock(mutex_);
    return inApplicationSupport_;
}

std::string NEBInstanceIDBackupExcludedPlist::pathInApplicationSupport() const {
    return ns::Sandbox::applicationSupportDirectory() + "/" + subDirectory_ + "/" + fileName_ +
           ".plist";
}

std::string NEBInstanceIDBackupExcludedPlist::pathInDocuments() const {
    return ns::Sandbox::documentsDirectory() + "/" + fileName_ + ".plist";
}

std::string NEBInstanceIDBackupExcludedPlist::plistPath() const {
    dispatch::Lock lock(mutex_);
    return inApplicationSupport_ ? pathInApplicationSupport() : pathInDocuments();
}

bool NEBInstanceIDBackupExcludedPlist::moveToApplicationSupportSubDirectory() {
    dispatch::Lock lock(mutex_);
    inApplicationSupport_ = moveToApplicationSupportSubDirectoryLocked();
    return inApplicationSupport_;
}

bool NEBInstanceIDBackupExcludedPlist::moveToApplicationSupportSubDirectoryLocked() {
    auto& files = ns::FileManager::defaultManager();
    bool isDirectory = false;
    std::string folder = ns::Sandbox::applicationSupportDirectory() + "/" + subDirectory_;
    if (!files.fileExists(folder, &isDirectory) || !isDirectory) return false;
    std::string source = pathInDocuments();
    std::string target = pathInApplicationSupport();
    if (!files.fileExists(source)) return true;
    if (files.fileExists(target)) {
        NEBInstanceIDLoggerError("File %@ exists both in Documents and ApplicationSupport.",
                                 fileName_);
        return false;
    }
    auto moved = files.moveItem(source, target);
    if (!moved.ok()) {
        NEBInstanceIDLoggerError("Failed to move file %@ from %@ to %@. Error: %@", fileName_,
                                 source, target, moved.error());
        return false;
    }
    return true;
}

ns::Status NEBInstanceIDBackupExcludedPlist::writeDictionary(const ns::Dictionary& dictionary) {
    dispatch::Lock lock(mutex_);
    std::string path = inApplicationSupport_ ? pathInApplicationSupport() : pathInDocuments();
    auto written = ns::PropertyListSerialization::writeFileAtomically(
        path, ns::Value(dictionary), ns::PropertyListSerialization::Format::Binary, kPlistMode);
    if (!written.ok()) {
        NEBInstanceIDLoggerError("Failed to write to %@.plist", fileName_);
        return written;
    }
    cached_ = dictionary;
    auto& files = ns::FileManager::defaultManager();
    if (!files.isExcludedFromBackup(path)) {
        auto excluded = files.setExcludedFromBackup(path, true);
        if (!excluded.ok()) {
            NEBInstanceIDLoggerError("Error excluding %@ from backup, %@", fileName_ + ".plist",
                                     excluded.error());
            return excluded;
        }
    }
    return {};
}

ns::Status NEBInstanceIDBackupExcludedPlist::deleteFile() {
    dispatch::Lock lock(mutex_);
    cached_.reset();
    std::string path = inApplicationSupport_ ? pathInApplicationSupport() : pathInDocuments();
    auto& files = ns::FileManager::defaultManager();
    if (!files.fileExists(path)) return {};
    return files.removeItem(path);
}

std::optional<ns::Dictionary> NEBInstanceIDBackupExcludedPlist::contentAsDictionary() {
    dispatch::Lock lock(mutex_);
    if (cached_) return cached_;
    std::string path = inApplicationSupport_ ? pathInApplicationSupport() : pathInDocuments();
    if (!ns::FileManager::defaultManager().fileExists(path)) return std::nullopt;
    auto read = ns::PropertyListSerialization::readFile(path);
    if (!read.ok() || !read->dictionary()) return std::nullopt;
    cached_ = *read->dictionary();
    return cached_;
}

bool NEBInstanceIDBackupExcludedPlist::doesFileExist() const {
    dispatch::Lock lock(mutex_);
    std::string path = inApplicationSupport_ ? pathInApplicationSupport() : pathInDocuments();
    return ns::FileManager::defaultManager().fileExists(path);
}
