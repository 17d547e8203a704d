#pragma once

#include <optional>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Result.h"
#include "platform/ns/Value.h"

// One small plist file in an Application Support subfolder, never copied into backups, with an
// in-memory copy of its contents. A file that an older version kept in Documents is moved into
// the subfolder at creation. Writes replace the file atomically. Any thread.
class NEBInstanceIDBackupExcludedPlist {
public:
    NEBInstanceIDBackupExcludedPlist(std::string fileName,
                                     std::string applicationSupportSubDirectory);

    const std::string& fileName() const { return fileName_; }
    bool fileInApplicationSupport() const;

    ns::Status writeDictionary(const ns::Dictionary& dictionary);
    ns::Status deleteFile();
    std::optional<ns::Dictionary> contentAsDictionary();
    bool doesFileExist() const;

    bool moveToApplicationSupportSubDirectory();
    std::string plistPath() const;

private:
    bool moveToApplicationSupportSubDirectoryLocked();
    std::string directory() const;
    std::string pathInApplicationSupport() const;
    std::string pathInDocuments() const;

    const std::string fileName_;
    const std::string subDirectory_;
    mutable dispatch::Mutex mutex_;
    bool inApplicationSupport_ GUARDED_BY(mutex_) = false;
    std::optional<ns::Dictionary> cached_ GUARDED_BY(mutex_);
};
