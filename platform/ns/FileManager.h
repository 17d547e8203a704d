#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/Data.h"
#include "platform/ns/Date.h"
#include "platform/ns/Result.h"

namespace ns {

// The platform's file error codes (NSCocoaErrorDomain).
inline constexpr int64_t kFileNoSuchFileError = 4;
inline constexpr int64_t kFileReadUnknownError = 256;
inline constexpr int64_t kFileReadNoPermissionError = 257;
inline constexpr int64_t kFileReadNoSuchFileError = 260;
inline constexpr int64_t kFileReadTooLargeError = 263;
inline constexpr int64_t kFileWriteUnknownError = 512;
inline constexpr int64_t kFileWriteNoPermissionError = 513;
inline constexpr int64_t kFileWriteFileExistsError = 516;
inline constexpr int64_t kFileWriteOutOfSpaceError = 640;

// Attribute key accepted by createDirectory and createFile: the permission bits (a number).
inline constexpr const char* kFilePosixPermissions = "NSFilePosixPermissions";

// The extended attribute that marks an item as excluded from backups.
inline constexpr const char* kExcludeFromBackupAttribute = "user.hybrid.exclude-from-backup";
// Where items on file systems without extended attributes are listed instead: one path per
// line in Library, relative to the container when inside it.
inline constexpr const char* kBackupExclusionListName = ".hybrid-backup-exclusions";

enum class FileType { Regular, Directory, SymbolicLink, Other };

struct FileAttributes {
    uint64_t size = 0;
    FileType type = FileType::Other;
    Date modificationDate;
    Date creationDate;  // birth time where the file system records it, else modification time
    uint32_t posixPermissions = 0;
};

struct FileSystemAttributes {
    uint64_t size = 0;
    uint64_t freeSize = 0;  // available to an unprivileged user
};

enum class SearchPathDirectory { Document, Library, Caches, ApplicationSupport };

// Whether a failed operation read or wrote: it decides the platform error code.
enum class FileAccess { Read, Write };

// An entry named in an open folder. Operations on it resolve no path again, so that a folder
// swapped for a link since it was opened cannot redirect them (see ConfinedFile).
struct DirectoryEntry {
    int directory = -1;
    std::string name;
    std::string path;  // for messages
};

// File operations with the platform's error objects: domain "NSCocoaErrorDomain", the code
// mapped from errno, user info "NSFilePath" and "NSUnderlyingError" (a dictionary {"domain":
// "NSPOSIXErrorDomain", "code": errno}). Thread-safe. Nothing follows a symbolic link found
// inside a tree that is copied, moved or removed.
class FileManager {
public:
    static FileManager& defaultManager();

    // Follows symbolic links, as the platform does.
    bool fileExists(const std::string& path, bool* isDirectory = nullptr) const;
    bool isReadableFile(const std::string& path) const;
    bool isDeletableFile(const std::string& path) const;

    // Of the item itself (a symbolic link is not followed).
    Result<FileAttributes> attributesOfItem(const std::string& path) const;
    Result<FileSystemAttributes> attributesOfFileSystem(const std::string& path) const;
    // Names in the directory (hidden ones too, never "." or ".."), in byte order.
    Result<std::vector<std::string>> contentsOfDirectory(const std::string& path) const;
    // Every path below the directory, relative to it, parents before children; symbolic links
    // to directories are listed but not entered.
    Result<std::vector<std::string>> subpathsOfDirectory(const std::string& path) const;

    // An existing directory is fine with intermediates, error 516 without.
    Status createDirectory(const std::string& path, bool withIntermediates,
                           const Dictionary& attributes = {}) const;
    // Writes the whole file through a temporary sibling, flushed and renamed over the path.
    Status createFile(const std::string& path, const Data& data,
                      const Dictionary& attributes = {}) const;
    // Files above 2 GiB are refused with error 263.
    Result<Data> contentsAtPath(const std::string& path) const;

    // Recursive; refuses an existing target (516); leaves nothing behind when it fails.
    Status copyItem(const std::string& source, const std::string& target) const;
    // Renames; across file systems copies to a temporary sibling of the target, renames that
    // into place, then removes the source. Refuses an existing target (516).
    Status moveItem(const std::string& source, const std::string& target) const;
    // Recursive; removes a symbolic link itself, never what it points to.
    Status removeItem(const std::string& path) const;

    // The same on entries of open folders.
    Status copyItem(const DirectoryEntry& source, const DirectoryEntry& target) const;
    Status moveItem(const DirectoryEntry& source, const DirectoryEntry& target) const;
    Status removeItem(const DirectoryEntry& entry) const;
    // A new folder (0777 less the umask); an existing entry is error 516.
    Status createDirectory(const DirectoryEntry& entry) const;
    // Puts `replacement` in the place of the existing `target` in one rename (a file over a
    // file, a folder over an empty folder), so that the target is never missing; between
    // volumes through a temporary copy beside the target.
    Status replaceItem(const DirectoryEntry& target, const DirectoryEntry& replacement) const;

    // The sandbox folders (see Sandbox), one path each.
    std::vector<std::string> pathsForDirectory(SearchPathDirectory directory) const;

    // Backup exclusion lives in an extended attribute; where the file system has none it is
    // kept in the exclusion list in Library instead, so that setting it never fails for that.
    Status setExcludedFromBackup(const std::string& path, bool excluded) const;
    Status setExcludedFromBackup(const DirectoryEntry& entry, bool excluded) const;
    bool isExcludedFromBackup(const std::string& path) const;

    // The platform's error for an errno of a read or write of the path.
    static Error errorForErrno(int error, FileAccess access, const std::string& path);
    // The errno carried by an error made here; 0 when there is none.
    static int posixErrno(const Error& error);

    // For the platform's other file classes, so that one seam covers them: true, with errno
    // set, when a failure of the operation was asked for (see FaultSeam.h).
    static bool consumeFault(std::string_view operation);

private:
    FileManager() = default;
};

}  // namespace ns
