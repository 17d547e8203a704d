#include "plugins/device_storage/HYBLocalFilesystem.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/CharacterSet.h"
#include "platform/ns/ConfinedFile.h"
#include "platform/ns/FileHandle.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/Log.h"
#include "platform/ns/MimeType.h"
#include "platform/ns/PercentEncoding.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/UUID.h"
#include "plugins/device_storage/HYBFileLocks.h"

namespace {

std::shared_ptr<HYBPluginResult> error(int32_t code) {
    return HYBPluginResult::resultWithStatusMessageAsInt(HYBResultStatusError, code);
}

std::shared_ptr<HYBPluginResult> ok(ns::Dictionary entry) {
    return HYBPluginResult::resultWithStatusMessageAsDictionary(HYBResultStatusOK,
                                                                std::move(entry));
}

std::string_view withoutQuery(std::string_view path) {
    return path.substr(0, path.find('?'));
}

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < path.size()) {
        size_t slash = path.find('/', i);
        if (slash == std::string_view::npos) slash = path.size();
        if (slash > i) out.push_back(path.substr(i, slash - i));
        i = slash + 1;
    }
    return out;
}

std::string joined(const std::vector<std::string_view>& parts, bool leadingSlash) {
    std::string out = leadingSlash ? "/" : "";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += '/';
        out += parts[i];
    }
    return out;
}

// The platform's last path component: trailing "/" ignored, "/" for the root, "" for "".
std::string lastPathComponent(std::string_view path) {
    if (path.empty()) return {};
    auto parts = components(path);
    if (parts.empty()) return path.front() == '/' ? "/" : "";
    return std::string(parts.back());
}

std::string join(const std::string& dir, std::string_view name) {
    return dir == "/" ? "/" + std::string(name) : dir + "/" + std::string(name);
}

std::string canonical(const std::string& path) {
    std::error_code ec;
    auto resolved = std::filesystem::weakly_canonical(path, ec);
    return HYBLocalFilesystem::normalizePath(ec ? path : resolved.string());
}

// Whether `path` lies strictly below `dir`, both normal absolute paths.
bool isBelow(const std::string& path, const std::string& dir) {
    if (dir == "/") return path.size() > 1;
    return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
           path[dir.size()] == '/';
}

bool hasChildren(const std::string& dir) {
    auto names = ns::FileManager::defaultManager().contentsOfDirectory(dir);
    return names && !names->empty();
}

// A flag of getFile's options: only a number (or a JSON boolean) counts.
bool flag(const ns::Value& options, std::string_view key) {
    const ns::Value& value = options[key];
    if (value.isBool()) return *value.boolean();
    if (value.isNumber()) return value.boolValue();
    return false;
}

// The page's code for a failed copy, move or truncation.
int32_t codeForFileError(const ns::Error& error) {
    if (error.domain() != ns::kCocoaErrorDomain) return INVALID_MODIFICATION_ERR;
    switch (error.code()) {
        case ns::kFileReadUnknownError:
        case ns::kFileReadTooLargeError:
            return NOT_READABLE_ERR;
        case ns::kFileWriteOutOfSpaceError:
            return QUOTA_EXCEEDED_ERR;
        case ns::kFileWriteNoPermissionError:
            return NO_MODIFICATION_ALLOWED_ERR;
        default:
            return INVALID_MODIFICATION_ERR;
    }
}

// The entry of a local path in the folder that holds it, opened beneath the container: what a
// change of the entry itself (a creation, a rename, a removal) works on. With `followLast`, a
// last component that is a link stands for its target.
ns::Result<ns::ConfinedFile::Entry> writableEntry(const std::string& localPath, bool followLast) {
    return ns::ConfinedFile::forWriting().openParent(localPath, followLast);
}

// What an open entry is, links followed; nothing when it does not exist.
std::optional<struct stat> statOf(const ns::ConfinedFile::Entry& entry) {
    struct stat st;
    if (::fstatat(entry.directory.get(), entry.name.c_str(), &st, 0) != 0) return std::nullopt;
    return st;
}

const ns::CharacterSet& fullPathAllowedCharacters() {
    // What may stand in a URL, except "#": a name holding it must not turn into a fragment.
    static const ns::CharacterSet set =
        ns::CharacterSet::URLLegalCharacterSet().setByRemovingCharactersInString("#");
    return set;
}

// The resolved roots of every live local file system: none of them may be removed or moved
// away through any file system, since another file system's root may lie inside this one's.
struct LiveRoots {
    dispatch::Mutex mutex;
    std::multiset<std::string> roots GUARDED_BY(mutex);
};

LiveRoots& liveRoots() {
    static auto* roots = new LiveRoots;
    return *roots;
}

bool isSomeRoot(const std::string& canonicalPath) {
    auto& live = liveRoots();
    dispatch::Lock lock(live.mutex);
    return live.roots.count(canonicalPath) > 0;
}

}  // namespace

HYBLocalFilesystem::HYBLocalFilesystem(std::string name, std::string root)
    : HYBFileSystem(std::move(name)), fsRoot_(std::move(root)) {
    canonicalRoot_ = canonical(fsRoot_);
    auto& live = liveRoots();
    dispatch::Lock lock(live.mutex);
    live.roots.insert(canonicalRoot_);
}

HYBLocalFilesystem::~HYBLocalFilesystem() {
    auto& live = liveRoots();
    dispatch::Lock lock(live.mutex);
    if (auto it = live.roots.find(canonicalRoot_); it != live.roots.end()) live.roots.erase(it);
}

// --- Path mapping ------------------------------------------------------------------------------

std::string HYBLocalFilesystem::normalizePath(std::string_view path) {
    const bool absolute = !path.empty() && path.front() == '/';
    std::vector<std::string_view> kept;
    for (auto part : components(path)) {
        if (part == ".") continue;
        if (part == "..") {
            if (!kept.empty()) kept.pop_back();
            continue;
        }
        kept.push_back(part);
    }
    return joined(kept, absolute);
}

std::optional<std::string> HYBLocalFilesystem::confinedFullPath(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) return std::nullopt;
    std::vector<std::string_view> kept;
    for (auto part : components(path)) {
        if (part == ".") continue;
        if (part == "..") {
            if (kept.empty()) return std::nullopt;
            kept.pop_back();
            continue;
        }
        kept.push_back(part);
    }
    if (kept.empty()) return std::string();
    return joined(kept, true);
}

bool HYBLocalFilesystem::isValidEntryName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/:\0", 3)) == std::string_view::npos;
}

std::optional<std::string> HYBLocalFilesystem::getMimeTypeFromPath(
    const std::optional<std::string>& path) {
    if (!path) return std::nullopt;
    const std::string name = lastPathComponent(*path);
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return std::nullopt;
    const std::string extension = name.substr(dot + 1);
    if (auto type = ns::MimeType::forExtension(extension)) return type;
    if (extension.find("wav") != std::string::npos) return std::string("audio/wav");
    if (extension.find("css") != std::string::npos) return std::string("text/css");
    return std::nullopt;
}

std::optional<std::string> HYBLocalFilesystem::filesystemPathForFullPath(
    std::string_view fullPath) const {
    auto confined = confinedFullPath(withoutQuery(fullPath));
    if (!confined) return std::nullopt;
    if (confined->empty()) return fsRoot_;
    return fsRoot_ == "/" ? *confined : fsRoot_ + *confined;
}

std::optional<std::string> HYBLocalFilesystem::reachablePathForFullPath(
    std::string_view fullPath) const {
    auto local = filesystemPathForFullPath(fullPath);
    // The host, not a platform sandbox, keeps the page to what an app may see.
    if (!local || !ns::Sandbox::isReachable(*local)) return std::nullopt;
    return local;
}

std::optional<std::string> HYBLocalFilesystem::filesystemPathForURL(const HYBFilesystemURL& url) {
    if (!url.fullPath()) return std::nullopt;
    return reachablePathForFullPath(*url.fullPath());
}

std::optional<std::string> HYBLocalFilesystem::fullPathForFileSystemPath(
    const std::string& localPath) const {
    if (localPath.empty() || localPath.front() != '/') return std::nullopt;
    const std::string path = HYBLocalFilesystem::normalizePath(localPath);
    for (const std::string* root : {&fsRoot_, &canonicalRoot_}) {
        const std::string normalRoot = HYBLocalFilesystem::normalizePath(*root);
        if (normalRoot == "/") return path.substr(1);
        if (path == normalRoot) return std::string();
        if (isBelow(path, normalRoot)) return path.substr(normalRoot.size());
    }
    return std::nullopt;
}

std::optional<HYBFilesystemURL> HYBLocalFilesystem::URLforFullPath(
    const std::optional<std::string>& fullPath) const {
    if (!fullPath) return std::nullopt;
    const std::string escaped = ns::percentEncode(*fullPath, fullPathAllowedCharacters());
    const bool rooted = !fullPath->empty() && fullPath->front() == '/';
    HYBFilesystemURL url(std::string(kHYBFilesystemURLPrefix) + "://" + kHYBFilesystemURLHost +
                         "/" + name() + (rooted ? "" : "/") + escaped);
    if (!url.url()) return std::nullopt;
    return url;
}

std::optional<HYBFilesystemURL> HYBLocalFilesystem::URLforFilesystemPath(
    const std::string& localPath) {
    return URLforFullPath(fullPathForFileSystemPath(localPath));
}

std::optional<std::string> HYBLocalFilesystem::entryFullPath(const HYBFilesystemURL& url) const {
    if (!url.fullPath()) return std::nullopt;
    const std::string& full = *url.fullPath();
    auto confined = confinedFullPath(withoutQuery(full));
    if (!confined) return std::nullopt;
    const auto query = full.find('?');
    return query == std::string::npos ? *confined : *confined + full.substr(query);
}

// --- Entries -----------------------------------------------------------------------------------

ns::Dictionary HYBLocalFilesystem::makeEntryForPath(const std::string& fullPath, bool isDirectory) {
    std::string path = fullPath;
    if (isDirectory && (path.empty() || path.back() != '/')) path += '/';
    ns::Dictionary entry{
        {"isFile", !isDirectory},
        {"isDirectory", isDirectory},
        {"name", lastPathComponent(withoutQuery(fullPath))},
        {"fullPath", path},
        {"filesystemName", name()},
    };
    if (auto local = filesystemPathForFullPath(fullPath)) {
        bool existingDirectory = false;
        ns::FileManager::defaultManager().fileExists(*local, &existingDirectory);
        ns::URL nativeURL = ns::URL::fileURLWithPath(*local, existingDirectory);
        if (urlTransformer()) nativeURL = urlTransformer()(nativeURL);
        entry.emplace("nativeURL", nativeURL.absoluteString());
    }
    return entry;
}

std::optional<ns::Dictionary> HYBLocalFilesystem::makeEntryForLocalURL(
    const HYBFilesystemURL& url) {
    auto fullPath = entryFullPath(url);
    auto local = filesystemPathForURL(url);
    bool isDirectory = false;
    if (!fullPath || !local ||
        !ns::FileManager::defaultManager().fileExists(*local, &isDirectory)) {
        return std::nullopt;
    }
    return makeEntryForPath(*fullPath, isDirectory);
}

std::shared_ptr<HYBPluginResult> HYBLocalFilesystem::entryForLocalURI(const HYBFilesystemURL& url) {
    auto entry = makeEntryForLocalURL(url);
    if (!entry) return fileIOError(NOT_FOUND_ERR);
    return ok(std::move(*entry));
}

std::shared_ptr<HYBPluginResult> HYBLocalFilesystem::getFileForURL(const HYBFilesystemURL& url,
                                                                   const ns::Value& path,
                                                                   const ns::Value& options) {
    const bool create = flag(options, "create");
    const bool exclusive = flag(options, "exclusive");
    const bool getDir = flag(options, "getDir");
    const std::string* requested = path.string();
    if (!requested || requested->find(':') != std::string::npos) return fileIOError(ENCODING_ERR);
    auto directory = entryFullPath(url);
    if (!directory) return fileIOError(NOT_FOUND_ERR);
    std::string base(withoutQuery(*directory));
    if (base.empty() || base.back() != '/') base += '/';
    const std::string fullPath = normalizePath(base + *requested);
    if (!filesystemPathForFullPath(fullPath)) return fileIOError(ENCODING_ERR);
    auto local = reachablePathForFullPath(fullPath);
    if (!local) return fileIOError(NOT_FOUND_ERR);

    auto& fm = ns::FileManager::defaultManager();
    auto guard = create ? HYBFileLocks::lock({*local}) : HYBFileLocks::Guard();
    bool isDirectory = false;
    const bool exists = fm.fileExists(*local, &isDirectory);
    if (exists && !create && isDirectory != getDir) return fileIOError(TYPE_MISMATCH_ERR);
    if (!exists && !create) return fileIOError(NOT_FOUND_ERR);
    if (exists && create && exclusive) return fileIOError(PATH_EXISTS_ERR);
    if (!exists && create) {
        if (!ns::Sandbox::isInsideContainer(*local)) return fileIOError(ABORT_ERR);
        if (getDir) {
            auto entry = writableEntry(*local, false);
            auto status =
                entry ? fm.createDirectory(entry->directoryEntry()) : ns::Status(entry.error());
            if (!status) {
                ns::nslog("error creating directory: %@", status.error().localizedDescription());
                return fileIOError(ABORT_ERR);
            }
        } else {
            // Exclusive: a file that appeared meanwhile is not emptied.
            auto file = ns::ConfinedFile::forWriting().open(
                *local, O_WRONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_NOCTTY, 0666);
            if (!file && ns::FileManager::posixErrno(file.error()) != EEXIST) {
                return fileIOError(ABORT_ERR);
            }
            if (!file && exclusive) return fileIOError(PATH_EXISTS_ERR);
        }
    }
    return ok(makeEntryForPath(fullPath, getDir));
}

std::shared_ptr<HYBPluginResult> HYBLocalFilesystem::getParentForURL(const HYBFilesystemURL& url) {
    auto fullPath = entryFullPath(url);
    if (!fullPath) return fileIOError(NOT_FOUND_ERR);
    std::string parent(withoutQuery(*fullPath));
    // The root is its own parent.
    auto slash = parent.find_last_of('/');
    parent = slash == std::string::npos ? std::string() : parent.substr(0, slash);
    auto local = reachablePathForFullPath(parent);
    bool isDirectory = false;
    if (!local || !ns::FileManager::defaultManager().fileExists(*local, &isDirectory)) {
        return fileIOError(NOT_FOUND_ERR);
    }
    return ok(makeEntryForPath(parent, isDirectory));
}

std::shared_ptr<HYBPluginResult> HYBLocalFilesystem::setMetadataForURL(const HYBFilesystemURL& url,
                                                                       const ns::Value& metadata) {
    const ns::Value& backup = metadata[kMobileBackupKey];
    auto local = filesystemPathForURL(url);
    if (!(backup.isNumber() || backup.isBool()) || !local ||
        !ns::Sandbox::isInsideContainer(*local)) {
        return HYBPluginResult::resultWithStatus(HYBResultStatusError);
    }
    // The entry itself, in its folder opened beneath the container.
    auto entry = writableEntry(*local, false);
    auto status = entry ? ns::FileManager::defaultManager().setExcludedFromBackup(
                              entry->directoryEntry(), backup.boolValue())
                        : ns::Status(entry.error());
    return HYBPluginResult::resultWithStatus(status ? HYBResultStatusOK : HYBResultStatusError);
}

// --- Removal -----------------------------------------------------------------------------------

bool HYBLocalFilesystem::mayRemove(const std::string& localPath) const {
    // A file system's root stays, however its path is spelt and through whichever file system
    // it is named; so does the container itself, which holds them all; nothing outside the
    // container may go.
    const std::string resolved = canonical(localPath);
    return resolved != canonicalRoot_ && !isSomeRoot(resolved) &&
           resolved != canonical(ns::Sandbox::homeDirectory()) &&
           ns::Sandbox::isInsideContainer(localPath);
}

std::shared_ptr<HYBPluginResult> HYBLocalFilesystem::removeItem(const std::string& localPath) {
    if (!mayRemove(localPath)) return fileIOError(NO_MODIFICATION_ALLOWED_ERR);
    auto guard = HYBFileLocks::lock({localPath});
    // The entry itself goes: a link, not what it leads to.
    auto entry = writableEntry(localPath, false);
    auto status = entry ? ns::FileManager::defaultManager().removeItem(entry->directoryEntry())
                        : ns::Status(entry.error());
    if (status) return HYBPluginResult::resultWithStatus(HYBResultStatusOK);
    const ns::Error& failure = status.error();
    ns::nslog("error removing filesystem entry at %@: %@", localPath,
              failure.localizedDescription());
    if (failure.code() == ns::kFileNoSuchFileError) return fileIOError(NOT_FOUND_ERR);
    if (failure.code() == ns::kFileWriteNoPermissionError) {
        return fileIOError(NO_MODIFICATION_ALLOWED_ERR);
    }
    return fileIOError(ABORT_ERR);
}

std::shared_ptr<HYBPluginResult> HYBLocalFilesystem::removeFileAtURL(const HYBFilesystemURL& url) {
    auto local = filesystemPathForURL(url);
    if (!local) return fileIOError(NOT_FOUND_ERR);
    auto attributes = ns::FileManager::defaultManager().attributesOfItem(*local);
    if (!attributes) return fileIOError(NOT_FOUND_ERR);
    if (!mayRemove(*local)) return fileIOError(NO_MODIFICATION_ALLOWED_ERR);
    if (attributes->type == ns::FileType::Directory && hasChildren(*local)) {
        return fileIOError(INVALID_MODIFICATION_ERR);
    }
    return removeItem(*local);
}

std::shared_ptr<HYBPluginResult> HYBLocalFilesystem::recursiveRemoveFileAtURL(
    const HYBFilesystemURL& url) {
    auto local = filesystemPathForURL(url);
    if (!local) return fileIOError(NOT_FOUND_ERR);
    return removeItem(*local);
}

std::shared_ptr<HYBPluginResult> HYBLocalFilesystem::readEntriesAtURL(const HYBFilesystemURL& url) {
    auto local = filesystemPathForURL(url);
    if (!local) return fileIOError(NOT_FOUND_ERR);
    auto& fm = ns::FileManager::defaultManager();
    auto names = fm.contentsOfDirectory(*local);
    if (!names) return fileIOError(NOT_FOUND_ERR);
    ns::Array entries;
    entries.reserve(names->size());
    for (const auto& name : *names) {
        const std::string child = join(*local, name);
        auto fullPath = fullPathForFileSystemPath(child);
        if (!fullPath || !ns::Sandbox::isReachable(child)) continue;
        bool isDirectory = false;
        fm.fileExists(child, &isDirectory);
        entries.emplace_back(makeEntryForPath(*fullPath, isDirectory));
    }
    return HYBPluginResult::resultWithStatusMessageAsArray(HYBResultStatusOK, std::move(entries));
}

// --- Contents ------------------------------------------------------------------------------

std::shared_ptr<HYBPluginResult> HYBLocalFilesystem::truncateFileAtURL(const HYBFilesystemURL& url,
                                                                       uint64_t length) {
    auto local = filesystemPathForURL(url);
    if (!local) return fileIOError(NOT_FOUND_ERR);
    if (!ns::Sandbox::isInsideContainer(*local)) return fileIOError(NO_MODIFICATION_ALLOWED_ERR);
    auto guard = HYBFileLocks::lock({*local});
    auto fd = ns::ConfinedFile::forWriting().open(*local, O_WRONLY | O_NONBLOCK | O_NOCTTY);
    if (!fd && ns::FileManager::posixErrno(fd.error()) == EXDEV) {
        return fileIOError(NO_MODIFICATION_ALLOWED_ERR);  // led out of the container meanwhile
    }
    if (!fd) return HYBPluginResult::resultWithStatusMessageAsNSInteger(HYBResultStatusOK, 0);
    auto handle = ns::FileHandle::fileHandleWithFileDescriptor(std::move(*fd), *local);
    auto attributes = handle->attributes();
    if (!attributes || attributes->type != ns::FileType::Regular) {
        return HYBPluginResult::resultWithStatusMessageAsNSInteger(HYBResultStatusOK, 0);
    }
    if (auto status = handle->truncateFileAtOffset(length); !status) {
        return fileIOError(codeForFileError(status.error()));
    }
    auto offset = handle->offsetInFile();
    if (auto status = handle->synchronizeFile(); !status || !offset) {
        return fileIOError(INVALID_MODIFICATION_ERR);
    }
    return HYBPluginResult::resultWithStatusMessageAsNSUInteger(HYBResultStatusOK, *offset);
}

std::shared_ptr<HYBPluginResult> HYBLocalFilesystem::writeToFileAtURL(const HYBFilesystemURL& url,
                                                                      const ns::Data& data,
                                                                      bool append) {
    auto local = filesystemPathForURL(url);
    if (!local) return error(NOT_FOUND_ERR);
    // Outside the container (the bundle, the rest of the device) no stream would open.
    if (!ns::Sandbox::isInsideContainer(*local)) return error(INVALID_MODIFICATION_ERR);
    if (data.empty()) return HYBPluginResult::resultWithStatusMessageAsDouble(HYBResultStatusOK, 0);
    auto guard = HYBFileLocks::lock({*local});
    if (!append) return replaceContents(*local, data);
    // Without waiting: a FIFO without a reader is refused, not waited for.
    auto fd = ns::ConfinedFile::forWriting().open(
        *local, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY, 0666);
    if (!fd) return error(INVALID_MODIFICATION_ERR);
    auto handle = ns::FileHandle::fileHandleWithFileDescriptor(std::move(*fd), *local);
    auto attributes = handle->attributes();
    if (!attributes || attributes->type != ns::FileType::Regular) {
        return error(INVALID_MODIFICATION_ERR);
    }
    if (auto status = handle->writeData(data); !status) {
        ns::nslog("error writing file %@: %@", *local, status.error().localizedDescription());
        return error(INVALID_MODIFICATION_ERR);
    }
    return HYBPluginResult::resultWithStatusMessageAsNSUInteger(HYBResultStatusOK, data.length());
}

std::shared_ptr<HYBPluginResult> HYBLocalFilesystem::replaceContents(const std::string& localPath,
                                                                     const ns::Data& data) {
    // The new bytes go to a file beside the old one that is renamed over it, so that a crash
    // leaves the old contents or the new, never a cut file. A link is replaced at its target;
    // the file keeps its permissions, owner and extended attributes (a backup exclusion).
    auto entry = writableEntry(localPath, true);
    if (!entry) {
        ns::nslog("error writing file %@: %@", localPath, entry.error().localizedDescription());
        return error(INVALID_MODIFICATION_ERR);
    }
    // Only a file is replaced: a FIFO, a device or a folder is no file to rewrite.
    struct stat st;
    if (::fstatat(entry->directory.get(), entry->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(st.st_mode)) {
        return error(INVALID_MODIFICATION_ERR);
    }
    if (auto status = ns::writeFileAtomicallyAt(entry->directory.get(), entry->name, data.chars(),
                                                std::nullopt, localPath);
        !status) {
        ns::nslog("error writing file %@: %@", localPath, status.error().localizedDescription());
        return error(INVALID_MODIFICATION_ERR);
    }
    return HYBPluginResult::resultWithStatusMessageAsNSUInteger(HYBResultStatusOK, data.length());
}

namespace {

// The regular file at a local path, opened for reading, with its size.
struct ReadableFile {
    std::unique_ptr<ns::FileHandle> handle;
    uint64_t size;
};

std::optional<ReadableFile> openReadable(const std::string& local) {
    // Opened beneath the folders the page may read, so that a link put in the way since the
    // path was checked leads nowhere.
    auto fd = ns::ConfinedFile::openForReading(local);
    if (!fd) return std::nullopt;
    auto handle = ns::FileHandle::fileHandleWithFileDescriptor(std::move(*fd), local);
    // Devices, FIFOs and directories have no end to read to.
    auto attributes = handle->attributes();
    if (!attributes || attributes->type != ns::FileType::Regular) return std::nullopt;
    return ReadableFile{std::move(handle), attributes->size};
}

// Where a read from `start` to `end` begins in a file of `size` bytes, and how many it takes.
std::pair<uint64_t, uint64_t> readRange(uint64_t size, int64_t start, int64_t end) {
    const uint64_t from = start > 0 ? static_cast<uint64_t>(start) : 0;
    if (from >= size) return {from, 0};
    uint64_t count = size - from;
    if (end >= 0 && static_cast<uint64_t>(end) >= from) {
        count = std::min(count, static_cast<uint64_t>(end) - from);
    }
    return {from, count};
}

// A range of one open file: its runs follow one another from the range's start.
class OpenRange : public HYBFileSystem::RangeReader {
public:
    OpenRange(std::unique_ptr<ns::FileHandle> handle, uint64_t length, std::string mimeType)
        : handle_(std::move(handle)), length_(length), mimeType_(std::move(mimeType)) {}

    uint64_t length() const override { return length_; }
    const std::string& mimeType() const override { return mimeType_; }
    std::optional<ns::Data> readRun(uint64_t count) override {
        auto bytes = handle_->readDataOfLength(count);
        if (!bytes) return std::nullopt;
        return std::move(*bytes);
    }

private:
    std::unique_ptr<ns::FileHandle> handle_;
    uint64_t length_;
    std::string mimeType_;
};

}  // namespace

std::unique_ptr<HYBFileSystem::RangeReader> HYBLocalFilesystem::openRangeAtURL(
    const HYBFilesystemURL& url, int64_t start, int64_t end) {
    auto local = filesystemPathForURL(url);
    auto file = local ? openReadable(*local) : std::nullopt;
    if (!file) return nullptr;
    const auto [from, count] = readRange(file->size, start, end);
    if (!file->handle->seekToFileOffset(from)) return nullptr;
    return std::make_unique<OpenRange>(std::move(file->handle), count,
                                       getMimeTypeFromPath(local).value_or("*/*"));
}

void HYBLocalFilesystem::readFileAtURL(const HYBFilesystemURL& url, int64_t start, int64_t end,
                                       ReadCallback callback) {
    auto local = filesystemPathForURL(url);
    std::string mimeType = getMimeTypeFromPath(local).value_or("*/*");
    auto fail = [&](int32_t code) { callback(std::nullopt, mimeType, code); };
    auto file = local ? openReadable(*local) : std::nullopt;
    if (!file) return fail(NOT_FOUND_ERR);
    auto& handle = file->handle;
    const auto [from, count] = readRange(file->size, start, end);
    if (count == 0) return callback(ns::Data(), mimeType, 0);
    if (count > maxReadLength()) {
        // The page's error is a bare code; the log says what it means here.
        ns::nslog(
            "File too large to read in one piece: %@ (%qu bytes; one read answers at most "
            "%qu bytes, a hybfile URL serves any size)",
            *local, count, maxReadLength());
        return fail(NOT_READABLE_ERR);
    }
    if (!handle->seekToFileOffset(from)) return fail(NOT_FOUND_ERR);
    auto bytes = handle->readDataOfLength(count);
    if (!bytes) return fail(NOT_FOUND_ERR);
    callback(std::move(*bytes), std::move(mimeType), 0);
}

void HYBLocalFilesystem::getFileMetadataForURL(const HYBFilesystemURL& url,
                                               ResultCallback callback) {
    auto local = filesystemPathForURL(url);
    auto fullPath = entryFullPath(url);
    if (!local || !fullPath) return callback(error(NOT_FOUND_ERR));
    auto attributes = ns::FileManager::defaultManager().attributesOfItem(*local);
    if (!attributes) {
        const ns::Error& failure = attributes.error();
        ns::nslog("error getting metadata: %@", failure.localizedDescription());
        const bool missing = failure.code() == ns::kFileNoSuchFileError ||
                             failure.code() == ns::kFileReadNoSuchFileError;
        return callback(error(missing ? NOT_FOUND_ERR : ABORT_ERR));
    }
    ns::Dictionary metadata{
        {"fullPath", *fullPath},
        {"type", ""},
        {"name", lastPathComponent(*local)},
        {"size", attributes->type == ns::FileType::Regular ? attributes->size : uint64_t{0}},
        {"lastModifiedDate", attributes->modificationDate.timeIntervalSince1970() * 1000.0},
    };
    callback(ok(std::move(metadata)));
}

// --- Copy and move -------------------------------------------------------------------------

void HYBLocalFilesystem::copyFileToURL(const HYBFilesystemURL& destURL, const std::string& newName,
                                       const std::shared_ptr<HYBFileSystem>& srcFs,
                                       const HYBFilesystemURL& srcURL, bool copy,
                                       ResultCallback callback) {
    auto& fm = ns::FileManager::defaultManager();
    auto destDirectory = filesystemPathForURL(destURL);
    bool destIsDirectory = false;
    if (!destDirectory || !fm.fileExists(*destDirectory, &destIsDirectory) || !destIsDirectory) {
        return callback(fileIOError(NOT_FOUND_ERR));
    }
    if (!isValidEntryName(newName)) return callback(fileIOError(ENCODING_ERR));
    std::string newPath = join(*destDirectory, newName);
    auto newFullPath = fullPathForFileSystemPath(newPath);
    if (!newFullPath) return callback(fileIOError(NOT_FOUND_ERR));
    if (!ns::Sandbox::isInsideContainer(newPath)) {
        return callback(fileIOError(NO_MODIFICATION_ALLOWED_ERR));
    }
    auto localSource = std::dynamic_pointer_cast<HYBLocalFilesystem>(srcFs);
    if (!localSource) {
        return copyFromForeignFileSystem(srcFs, srcURL, std::move(newPath), std::move(*newFullPath),
                                         std::move(callback));
    }
    auto srcPath = localSource->filesystemPathForURL(srcURL);
    if (!srcPath || !fm.fileExists(*srcPath)) return callback(fileIOError(NOT_FOUND_ERR));
    // A move takes the source away: a change where it is.
    if (!copy && !localSource->mayRemove(*srcPath)) {
        return callback(fileIOError(NO_MODIFICATION_ALLOWED_ERR));
    }
    callback(copyOrMoveLocal(*srcPath, newPath, *newFullPath, copy));
}

std::shared_ptr<HYBPluginResult> HYBLocalFilesystem::copyOrMoveLocal(const std::string& srcPath,
                                                                     const std::string& newPath,
                                                                     const std::string& newFullPath,
                                                                     bool copy) {
    auto& fm = ns::FileManager::defaultManager();
    auto guard = HYBFileLocks::lock({srcPath, newPath});
    // Both ends are opened beneath their folders first and never named by path again. A copy
    // takes what a link leads to; a move takes the entry itself, as a rename does.
    auto source =
        copy ? ns::ConfinedFile::forReading().openParent(srcPath, true, ns::FileAccess::Read)
             : writableEntry(srcPath, false);
    if (!source) return fileIOError(NOT_FOUND_ERR);
    auto target = writableEntry(newPath, false);
    if (!target) return fileIOError(codeForFileError(target.error()));
    const auto sourceStat = statOf(*source);
    if (!sourceStat) return fileIOError(NOT_FOUND_ERR);
    const bool srcIsDirectory = S_ISDIR(sourceStat->st_mode);
    const auto targetStat = statOf(*target);
    const bool newExists = targetStat.has_value();
    const bool newIsDirectory = newExists && S_ISDIR(targetStat->st_mode);
    // The same entry however it is named (a link, "."): nothing to copy or move.
    if (newExists && targetStat->st_dev == sourceStat->st_dev &&
        targetStat->st_ino == sourceStat->st_ino) {
        return fileIOError(INVALID_MODIFICATION_ERR);
    }
    if (srcIsDirectory && newExists && !newIsDirectory)
        return fileIOError(INVALID_MODIFICATION_ERR);
    ns::Status status;
    if (copy) {
        if (newExists) return fileIOError(PATH_EXISTS_ERR);
        // Refuses a folder copied into itself (it would copy its own copy).
        status = fm.copyItem(source->directoryEntry(), target->directoryEntry());
    } else {
        if (!srcIsDirectory && newExists && newIsDirectory) {
            return fileIOError(INVALID_MODIFICATION_ERR);
        }
        if (newExists && newIsDirectory && hasChildren(newPath)) {
            return fileIOError(INVALID_MODIFICATION_ERR);
        }
        // A folder cannot be renamed into itself: the rename refuses it.
        status = newExists ? fm.replaceItem(target->directoryEntry(), source->directoryEntry())
                           : fm.moveItem(source->directoryEntry(), target->directoryEntry());
    }
    if (!status) return fileIOError(codeForFileError(status.error()));
    return ok(makeEntryForPath(newFullPath, srcIsDirectory));
}

void HYBLocalFilesystem::copyFromForeignFileSystem(const std::shared_ptr<HYBFileSystem>& srcFs,
                                                   const HYBFilesystemURL& srcURL,
                                                   std::string newPath, std::string newFullPath,
                                                   ResultCallback callback) {
    auto self = shared_from_this();
    srcFs->readFileAtURL(
        srcURL, 0, -1,
        [self, newPath = std::move(newPath), newFullPath = std::move(newFullPath),
         callback = std::move(callback)](std::optional<ns::Data> data, std::optional<std::string>,
                                         int32_t code) {
            if (!data) return callback(fileIOError(code));
            auto guard = HYBFileLocks::lock({newPath});
            auto entry = writableEntry(newPath, false);
            if (!entry || !ns::writeFileAtomicallyAt(entry->directory.get(), entry->name,
                                                     data->chars(), std::nullopt, newPath)) {
                return callback(fileIOError(ABORT_ERR));
            }
            callback(ok(self->makeEntryForPath(newFullPath, false)));
        });
}
