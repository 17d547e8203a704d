#include "platform/ns/FileManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/FaultSeam.h"
#include "platform/ns/FileDescriptor.h"
#include "platform/ns/Log.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/TemporaryFiles.h"

namespace ns {
namespace {

constexpr uint64_t kMaxReadSize = (uint64_t{1} << 31);
constexpr size_t kCopyChunk = 1 << 16;
constexpr int kMaxCopyDepth = 256;

// True, with errno set, when a failure of the operation was asked for (see FaultSeam.h).
bool injected(std::string_view operation) {
    int error = injectedFault(operation);
    if (error == 0) return false;
    errno = error;
    return true;
}

// ---- system calls behind the seam -----------------------------------------------------

using Fd = FileDescriptor;

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

int sysOpenAt(int dirfd, const char* path, int flags, mode_t mode = 0) {
    if (injected("open")) return -1;
    int fd;
    do fd = ::openat(dirfd, path, flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

int sysOpen(const std::string& path, int flags, mode_t mode = 0) {
    return sysOpenAt(AT_FDCWD, path.c_str(), flags, mode);
}

ssize_t sysRead(int fd, void* buffer, size_t size) {
    if (injected("read")) return -1;
    ssize_t n;
    do n = ::read(fd, buffer, size);
    while (n < 0 && errno == EINTR);
    return n;
}

bool sysWriteAll(int fd, const void* bytes, size_t size) {
    auto p = static_cast<const char*>(bytes);
    while (size > 0) {
        if (injected("write")) return false;
        ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

int sysFsync(int fd) {
    if (injected("fsync")) return -1;
    return ::fsync(fd);
}

int sysRenameAt(int fromDir, const std::string& from, int toDir, const std::string& to,
                bool noReplace) {
    if (injected("rename")) return -1;
    if (!noReplace) return ::renameat(fromDir, from.c_str(), toDir, to.c_str());
    if (::renameat2(fromDir, from.c_str(), toDir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // The file system cannot refuse atomically; check first, as well as it can be done.
    struct stat st;
    if (::fstatat(toDir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::renameat(fromDir, from.c_str(), toDir, to.c_str());
}

int sysMkdir(const std::string& path, mode_t mode) {
    if (injected("mkdir")) return -1;
    return ::mkdir(path.c_str(), mode);
}

int sysMkdirAt(int dir, const std::string& name, mode_t mode) {
    if (injected("mkdir")) return -1;
    return ::mkdirat(dir, name.c_str(), mode);
}

int sysLstatAt(int dir, const std::string& name, struct stat* st) {
    if (injected("stat")) return -1;
    return ::fstatat(dir, name.c_str(), st, AT_SYMLINK_NOFOLLOW);
}

int sysUnlinkAt(int dirfd, const char* name, int flags) {
    if (injected((flags & AT_REMOVEDIR) ? "rmdir" : "unlink")) return -1;
    return ::unlinkat(dirfd, name, flags);
}

int sysLstat(const std::string& path, struct stat* st) {
    if (injected("stat")) return -1;
    return ::lstat(path.c_str(), st);
}

int sysStat(const std::string& path, struct stat* st) {
    if (injected("stat")) return -1;
    return ::stat(path.c_str(), st);
}

DirHandle sysOpenDirAt(int dirfd, const char* path, bool followLinks) {
    if (injected("opendir")) return nullptr;
    int fd = sysOpenAt(dirfd, path, O_RDONLY | O_DIRECTORY | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0) return nullptr;
    DIR* dir = ::fdopendir(fd);
    if (!dir) ::close(fd);
    return DirHandle(dir);
}

// ---- helpers --------------------------------------------------------------------------

struct Failure {
    int error = 0;
    FileAccess access = FileAccess::Write;
    std::string path;
    explicit operator bool() const { return error != 0; }
};

Failure failRead(const std::string& path) {
    return {errno ? errno : EIO, FileAccess::Read, path};
}
Failure failWrite(const std::string& path) {
    return {errno ? errno : EIO, FileAccess::Write, path};
}

Status toStatus(const Failure& f) {
    if (!f) return {};
    return FileManager::errorForErrno(f.error, f.access, f.path);
}

std::string join(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// Parent directory and last component, without trailing slashes.
std::pair<std::string, std::string> splitPath(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::optional<mode_t> permissionsFrom(const Dictionary& attributes) {
    auto it = attributes.find(kFilePosixPermissions);
    if (it == attributes.end()) return std::nullopt;
    auto n = it->second.int64();
    if (!n) return std::nullopt;
    return static_cast<mode_t>(*n & 07777);
}

// Opens the folder that holds the path's last component, following links as the path is
// given; nothing with errno set when it cannot be opened.
Fd openParentOf(const std::string& path) {
    return Fd(::open(splitPath(path).first.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

Failure writeDurably(const std::string& path, const Data& data, std::optional<mode_t> mode) {
    Fd dir = openParentOf(path);
    if (!dir) return failWrite(path);
    Status status =
        writeFileAtomicallyAt(dir.get(), splitPath(path).second, data.chars(), mode, path);
    if (status) return {};
    return {static_cast<int>(status.error().code()), FileAccess::Write, path};
}

Failure listNames(int dirfd, const char* path, bool followLinks, std::vector<std::string>& names,
                  const std::string& displayPath) {
    DirHandle dir = sysOpenDirAt(dirfd, path, followLinks);
    if (!dir) return failRead(displayPath);
    errno = 0;
    while (dirent* e = ::readdir(dir.get())) {
        std::string_view n(e->d_name);
        if (n != "." && n != "..") names.emplace_back(n);
    }
    if (errno != 0) return failRead(displayPath);
    std::sort(names.begin(), names.end());
    return {};
}

Failure copyFileAt(int srcDir, const std::string& srcName, int dstDir, const std::string& dstName,
                   const struct stat& st, bool durable, const std::string& src,
                   const std::string& dst) {
    Fd in(sysOpenAt(srcDir, srcName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
    if (!in) return failRead(src);
    struct stat opened;
    if (::fstat(in.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
        errno = ENOTSUP;  // replaced by something that is not a file since it was looked at
        return failRead(src);
    }
    Fd out(sysOpenAt(dstDir, dstName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW,
                     st.st_mode & 0777));
    if (!out) return failWrite(dst);
    std::vector<char> buffer(kCopyChunk);
    for (;;) {
        ssize_t n = sysRead(in.get(), buffer.data(), buffer.size());
        if (n < 0) return failRead(src);
        if (n == 0) break;
        if (!sysWriteAll(out.get(), buffer.data(), static_cast<size_t>(n))) return failWrite(dst);
    }
    ::fchmod(out.get(), st.st_mode & 07777);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out.get(), times);
    if (durable && sysFsync(out.get()) != 0) return failWrite(dst);
    if (out.close() != 0) return failWrite(dst);
    return {};
}

// Copies the entry `srcName` of the open folder `srcDir` to the new entry `dstName` of
// `dstDir`, a folder with all it holds; links are copied as links, never followed.
Failure copyTreeAt(int srcDir, const std::string& srcName, int dstDir, const std::string& dstName,
                   bool durable, const std::string& src, const std::string& dst, int depth = 0) {
    // Deeper than any real tree: a folder that holds its own copy, or one that keeps growing.
    if (depth > kMaxCopyDepth) {
        errno = ELOOP;
        return failRead(src);
    }
    struct stat st;
    if (sysLstatAt(srcDir, srcName, &st) != 0) return failRead(src);
    if (S_ISREG(st.st_mode)) {
        return copyFileAt(srcDir, srcName, dstDir, dstName, st, durable, src, dst);
    }
    if (S_ISLNK(st.st_mode)) {
        std::string target(PATH_MAX, '\0');
        ssize_t n = ::readlinkat(srcDir, srcName.c_str(), target.data(), target.size());
        if (n < 0) return failRead(src);
        target.resize(static_cast<size_t>(n));
        if (injected("symlink") || ::symlinkat(target.c_str(), dstDir, dstName.c_str()) != 0) {
            return failWrite(dst);
        }
        return {};
    }
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTSUP;  // sockets, pipes and devices are not copied
        return failRead(src);
    }
    Fd from(sysOpenAt(srcDir, srcName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    if (!from) return failRead(src);
    // Owner-writable while being filled, even when the source is read-only.
    if (sysMkdirAt(dstDir, dstName, 0700) != 0) return failWrite(dst);
    Fd to(sysOpenAt(dstDir, dstName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    if (!to) return failWrite(dst);
    std::vector<std::string> names;
    if (auto f = listNames(from.get(), ".", false, names, src)) return f;
    for (const auto& name : names) {
        if (auto f = copyTreeAt(from.get(), name, to.get(), name, durable, join(src, name),
                                join(dst, name), depth + 1)) {
            return f;
        }
    }
    if (durable && sysFsync(to.get()) != 0) return failWrite(dst);
    ::fchmod(to.get(), st.st_mode & 07777);
    return {};
}

// Removes `name` inside the open directory `parent`: a directory with all it holds, anything
// else (a symbolic link included) by unlinking the entry itself.
Failure removeAt(int parent, const std::string& name, const std::string& displayPath) {
    struct stat st;
    if (sysLstatAt(parent, name, &st) != 0) return failWrite(displayPath);
    if (!S_ISDIR(st.st_mode)) {
        if (sysUnlinkAt(parent, name.c_str(), 0) != 0) return failWrite(displayPath);
        return {};
    }
    {
        Fd dirfd(sysOpenAt(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
        if (!dirfd) {
            // Replaced by a link or file since the check: remove the entry, do not follow.
            if ((errno == ELOOP || errno == ENOTDIR) && sysUnlinkAt(parent, name.c_str(), 0) == 0) {
                return {};
            }
            return failWrite(displayPath);
        }
        std::vector<std::string> names;
        if (auto f = listNames(dirfd.get(), ".", false, names, displayPath)) {
            f.access = FileAccess::Write;
            return f;
        }
        for (const auto& child : names) {
            if (auto f = removeAt(dirfd.get(), child, join(displayPath, child))) return f;
        }
    }
    if (sysUnlinkAt(parent, name.c_str(), AT_REMOVEDIR) != 0) return failWrite(displayPath);
    return {};
}

// Whether the open folder `dir` is the folder `folder` or lies below it, climbing its parents.
bool isAtOrBelow(int dir, const struct stat& folder) {
    Fd current(::openat(dir, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat here;
    if (!current || ::fstat(current.get(), &here) != 0) return false;
    while (true) {
        if (here.st_dev == folder.st_dev && here.st_ino == folder.st_ino) return true;
        Fd parent(::openat(current.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat above;
        if (!parent || ::fstat(parent.get(), &above) != 0) return false;
        if (above.st_dev == here.st_dev && above.st_ino == here.st_ino) return false;  // "/"
        current = std::move(parent);
        here = above;
    }
}

// The entry of a path given whole: its folder opened as the path is spelt.
struct OpenedEntry {
    Fd directory;
    DirectoryEntry entry;
};

std::optional<OpenedEntry> entryOf(const std::string& path, Failure& failure) {
    auto [dir, name] = splitPath(path);
    if (name.empty() || name == "." || name == ".." || name == "/") {
        errno = EINVAL;
        failure = failWrite(path);
        return std::nullopt;
    }
    Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) {
        failure = failWrite(path);
        return std::nullopt;
    }
    const int raw = fd.get();
    return OpenedEntry{std::move(fd), DirectoryEntry{raw, name, path}};
}

Failure listSubpaths(const std::string& root, const std::string& relative, bool followRoot,
                     std::vector<std::string>& out) {
    std::string dir = relative.empty() ? root : join(root, relative);
    std::vector<std::string> names;
    if (auto f = listNames(AT_FDCWD, dir.c_str(), followRoot, names, dir)) return f;
    for (const auto& name : names) {
        std::string rel = relative.empty() ? name : relative + "/" + name;
        out.push_back(rel);
        struct stat st;
        if (::lstat(join(root, rel).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            if (auto f = listSubpaths(root, rel, false, out)) return f;
        }
    }
    return {};
}

std::string fileDescription(int64_t code, const std::string& path) {
    // Never destroyed: the exit-time flush of user defaults may describe a failure.
    static const auto& texts = *new std::map<int64_t, std::string_view>{
        {kFileNoSuchFileError, "The file @ doesn’t exist."},
        {kFileReadNoSuchFileError, "The file @ couldn’t be opened because there is no such file."},
        {kFileReadNoPermissionError,
         "The file @ couldn’t be opened because you don’t have permission to view it."},
        {kFileReadTooLargeError, "The file @ couldn’t be opened because it is too large."},
        {kFileWriteNoPermissionError, "You don’t have permission to save the file @."},
        {kFileWriteFileExistsError,
         "The file @ couldn’t be saved because a file with the same name already exists."},
        {kFileWriteOutOfSpaceError,
         "The file @ couldn’t be saved because there isn’t enough space."},
        {kFileWriteUnknownError, "The file @ couldn’t be saved."},
    };
    auto it = texts.find(code);
    std::string text(it != texts.end() ? it->second : "The file @ couldn’t be opened.");
    return text.replace(text.find('@'), 1, "“" + splitPath(path).second + "”");
}

// ---- backup exclusion list --------------------------------------------------------------

dispatch::Mutex& exclusionMutex() {
    static auto* m = new dispatch::Mutex;  // still used by the exit-time flush of user defaults
    return *m;
}

std::string exclusionListPath() {
    return join(Sandbox::libraryDirectory(), kBackupExclusionListName);
}

std::string exclusionKey(const std::string& path) {
    std::error_code ec;
    auto full = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
    auto home = std::filesystem::weakly_canonical(Sandbox::homeDirectory(), ec);
    auto rel = full.lexically_relative(home);
    if (!rel.empty() && *rel.begin() != "..") return rel.string();
    return full.string();
}

// One entry per line; backslashes and line breaks in names are escaped.
std::string escapeLine(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string unescapeLine(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            out += s[++i] == 'n' ? '\n' : s[i];
        } else {
            out += s[i];
        }
    }
    return out;
}

std::set<std::string> readExclusions() REQUIRES(exclusionMutex()) {
    std::set<std::string> entries;
    auto data = FileManager::defaultManager().contentsAtPath(exclusionListPath());
    if (!data) return entries;
    std::string_view text = data->chars();
    while (!text.empty()) {
        auto nl = text.find('\n');
        auto line = text.substr(0, nl);
        if (!line.empty()) entries.insert(unescapeLine(line));
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }
    return entries;
}

Failure writeExclusions(const std::set<std::string>& entries) REQUIRES(exclusionMutex()) {
    std::string text;
    for (const auto& e : entries) text += escapeLine(e) + "\n";
    return writeDurably(exclusionListPath(), Data::fromString(text), std::nullopt);
}

bool noExtendedAttributes(int error) {
    return error == ENOTSUP || error == EOPNOTSUPP || error == EPERM;
}

}  // namespace

// ---- public ---------------------------------------------------------------------------------

FileManager& FileManager::defaultManager() {
    static auto* manager = new FileManager;  // used by exit-time flushes
    return *manager;
}

Error FileManager::errorForErrno(int error, FileAccess access, const std::string& path) {
    int64_t code;
    if (access == FileAccess::Read) {
        switch (error) {
            case ENOENT:
            case ENOTDIR:
                code = kFileReadNoSuchFileError;
                break;
            case EACCES:
            case EPERM:
                code = kFileReadNoPermissionError;
                break;
            case EFBIG:
            case EOVERFLOW:
                code = kFileReadTooLargeError;
                break;
            default:
                code = kFileReadUnknownError;
        }
    } else {
        switch (error) {
            case ENOENT:
            case ENOTDIR:
                code = kFileNoSuchFileError;
                break;
            case EACCES:
            case EPERM:
            case EROFS:
                code = kFileWriteNoPermissionError;
                break;
            case EEXIST:
            case ENOTEMPTY:
                code = kFileWriteFileExistsError;
                break;
            case ENOSPC:
            case EDQUOT:
                code = kFileWriteOutOfSpaceError;
                break;
            default:
                code = kFileWriteUnknownError;
        }
    }
    Dictionary info;
    info[kFilePathErrorKey] = path;
    info[kLocalizedDescriptionKey] = fileDescription(code, path);
    info[kUnderlyingErrorKey] = Value::dict(
        {{"domain", kPOSIXErrorDomain}, {"code", error}, {"description", std::strerror(error)}});
    return Error(kCocoaErrorDomain, code, std::move(info));
}

int FileManager::posixErrno(const Error& error) {
    auto it = error.userInfo().find(kUnderlyingErrorKey);
    if (it == error.userInfo().end()) return 0;
    auto code = it->second["code"].int64();
    return code ? static_cast<int>(*code) : 0;
}

bool FileManager::consumeFault(std::string_view operation) {
    return injected(operation);
}

bool FileManager::fileExists(const std::string& path, bool* isDirectory) const {
    struct stat st;
    bool exists = sysStat(path, &st) == 0;
    if (isDirectory) *isDirectory = exists && S_ISDIR(st.st_mode);
    return exists;
}

bool FileManager::isReadableFile(const std::string& path) const {
    return ::access(path.c_str(), R_OK) == 0;
}

bool FileManager::isDeletableFile(const std::string& path) const {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return false;
    return ::access(splitPath(path).first.c_str(), W_OK | X_OK) == 0;
}

Result<FileAttributes> FileManager::attributesOfItem(const std::string& path) const {
    struct statx stx;
    if (injected("stat") || ::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW,
                                    STATX_BASIC_STATS | STATX_BTIME, &stx) != 0) {
        return errorForErrno(errno, FileAccess::Read, path);
    }
    FileAttributes a;
    a.size = stx.stx_size;
    auto mode = stx.stx_mode;
    a.type = S_ISREG(mode)   ? FileType::Regular
             : S_ISDIR(mode) ? FileType::Directory
             : S_ISLNK(mode) ? FileType::SymbolicLink
                             : FileType::Other;
    auto toDate = [](const struct statx_timestamp& t) {
        return Date::fromTimeIntervalSince1970(static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9);
    };
    a.modificationDate = toDate(stx.stx_mtime);
    a.creationDate = (stx.stx_mask & STATX_BTIME) ? toDate(stx.stx_btime) : a.modificationDate;
    a.posixPermissions = mode & 07777;
    return a;
}

Result<FileSystemAttributes> FileManager::attributesOfFileSystem(const std::string& path) const {
    struct statvfs vfs;
    if (injected("statvfs") || ::statvfs(path.c_str(), &vfs) != 0) {
        return errorForErrno(errno, FileAccess::Read, path);
    }
    return FileSystemAttributes{static_cast<uint64_t>(vfs.f_blocks) * vfs.f_frsize,
                                static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize};
}

Result<std::vector<std::string>> FileManager::contentsOfDirectory(const std::string& path) const {
    std::vector<std::string> names;
    if (auto f = listNames(AT_FDCWD, path.c_str(), true, names, path)) return toStatus(f).error();
    return names;
}

Result<std::vector<std::string>> FileManager::subpathsOfDirectory(const std::string& path) const {
    std::vector<std::string> out;
    if (auto f = listSubpaths(path, "", true, out)) return toStatus(f).error();
    return out;
}

Status FileManager::createDirectory(const std::string& path, bool withIntermediates,
                                    const Dictionary& attributes) const {
    mode_t mode = permissionsFrom(attributes).value_or(0777);
    if (!withIntermediates) {
        if (sysMkdir(path, mode) != 0) return errorForErrno(errno, FileAccess::Write, path);
        if (auto p = permissionsFrom(attributes)) ::chmod(path.c_str(), *p);
        return {};
    }
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return {};
        return errorForErrno(EEXIST, FileAccess::Write, path);
    }
    auto [parent, name] = splitPath(path);
    if (parent != path && !parent.empty()) {
        if (auto s = createDirectory(parent, true, {}); !s) return s;
    }
    if (sysMkdir(path, mode) != 0 && errno != EEXIST) {
        return errorForErrno(errno, FileAccess::Write, path);
    }
    if (auto p = permissionsFrom(attributes)) ::chmod(path.c_str(), *p);
    return {};
}

Status FileManager::createFile(const std::string& path, const Data& data,
                               const Dictionary& attributes) const {
    return toStatus(writeDurably(path, data, permissionsFrom(attributes)));
}

Result<Data> FileManager::contentsAtPath(const std::string& path) const {
    Fd fd(sysOpen(path, O_RDONLY));
    if (!fd) return errorForErrno(errno, FileAccess::Read, path);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return errorForErrno(errno, FileAccess::Read, path);
    if (S_ISDIR(st.st_mode)) return errorForErrno(EISDIR, FileAccess::Read, path);
    if (static_cast<uint64_t>(st.st_size) > kMaxReadSize) {
        return errorForErrno(EFBIG, FileAccess::Read, path);
    }
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<size_t>(st.st_size));
    std::vector<uint8_t> chunk(kCopyChunk);
    for (;;) {
        ssize_t n = sysRead(fd.get(), chunk.data(), chunk.size());
        if (n < 0) return errorForErrno(errno, FileAccess::Read, path);
        if (n == 0) break;
        if (bytes.size() + static_cast<size_t>(n) > kMaxReadSize) {
            return errorForErrno(EFBIG, FileAccess::Read, path);
        }
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
    }
    return Data(std::move(bytes));
}

Status FileManager::copyItem(const std::string& source, const std::string& target) const {
    struct stat st;
    if (sysLstat(source, &st) != 0) return errorForErrno(errno, FileAccess::Read, source);
    if (::lstat(target.c_str(), &st) == 0) return errorForErrno(EEXIST, FileAccess::Write, target);
    Failure failure;
    auto from = entryOf(source, failure);
    auto to = from ? entryOf(target, failure) : std::nullopt;
    if (!to) return toStatus(failure);
    return copyItem(from->entry, to->entry);
}

Status FileManager::copyItem(const DirectoryEntry& source, const DirectoryEntry& target) const {
    struct stat st;
    if (sysLstatAt(source.directory, source.name, &st) != 0) {
        return errorForErrno(errno, FileAccess::Read, source.path);
    }
    // A folder copied into itself would go on copying its own copy.
    if (S_ISDIR(st.st_mode) && isAtOrBelow(target.directory, st)) {
        return errorForErrno(EINVAL, FileAccess::Write, target.path);
    }
    struct stat existing;
    if (::fstatat(target.directory, target.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        return errorForErrno(EEXIST, FileAccess::Write, target.path);
    }
    Failure f = copyTreeAt(source.directory, source.name, target.directory, target.name, false,
                           source.path, target.path);
    // Never leave half a copy behind.
    if (f && f.error != EEXIST) removeAt(target.directory, target.name, target.path);
    return toStatus(f);
}

Status FileManager::moveItem(const std::string& source, const std::string& target) const {
    struct stat st;
    if (sysLstat(source, &st) != 0) return errorForErrno(errno, FileAccess::Write, source);
    Failure failure;
    auto from = entryOf(source, failure);
    auto to = from ? entryOf(target, failure) : std::nullopt;
    if (!to) return toStatus(failure);
    return moveItem(from->entry, to->entry);
}

namespace {

// Puts a copy of `source` in place of `target` (which must not exist unless `replace`) through
// a temporary copy beside the target, so that the last step is one rename there; then lets go
// of the source. For moves between volumes.
Status moveByCopy(const DirectoryEntry& source, const DirectoryEntry& target, bool replace) {
    const std::string temp = TemporaryFiles::nameFor(target.name);
    const std::string tempPath = join(splitPath(target.path).first, temp);
    if (Failure f = copyTreeAt(source.directory, source.name, target.directory, temp, true,
                               source.path, tempPath)) {
        removeAt(target.directory, temp, tempPath);
        return toStatus(f);
    }
    ::fsync(target.directory);
    if (sysRenameAt(target.directory, temp, target.directory, target.name, !replace) != 0) {
        int error = errno;
        removeAt(target.directory, temp, tempPath);
        return FileManager::errorForErrno(error, FileAccess::Write, target.path);
    }
    ::fsync(target.directory);
    if (Failure f = removeAt(source.directory, source.name, source.path)) {
        Log::write(LogLevel::Error, "Moved " + source.path + " to " + target.path +
                                        " but could not remove the source");
        return toStatus(f);
    }
    return {};
}

}  // namespace

Status FileManager::moveItem(const DirectoryEntry& source, const DirectoryEntry& target) const {
    struct stat st;
    if (sysLstatAt(source.directory, source.name, &st) != 0) {
        return errorForErrno(errno, FileAccess::Write, source.path);
    }
    if (sysRenameAt(source.directory, source.name, target.directory, target.name, true) == 0) {
        return {};
    }
    if (errno != EXDEV) return errorForErrno(errno, FileAccess::Write, target.path);
    return moveByCopy(source, target, false);
}

Status FileManager::replaceItem(const DirectoryEntry& target,
                                const DirectoryEntry& replacement) const {
    if (sysRenameAt(replacement.directory, replacement.name, target.directory, target.name,
                    false) == 0) {
        return {};
    }
    if (errno != EXDEV) return errorForErrno(errno, FileAccess::Write, target.path);
    return moveByCopy(replacement, target, true);
}

Status FileManager::removeItem(const std::string& path) const {
    struct stat st;
    if (sysLstat(path, &st) != 0) return errorForErrno(errno, FileAccess::Write, path);
    Failure failure;
    auto entry = entryOf(path, failure);
    if (!entry) return toStatus(failure);
    return toStatus(removeAt(entry->directory.get(), entry->entry.name, path));
}

Status FileManager::removeItem(const DirectoryEntry& entry) const {
    struct stat st;
    if (sysLstatAt(entry.directory, entry.name, &st) != 0) {
        return errorForErrno(errno, FileAccess::Write, entry.path);
    }
    return toStatus(removeAt(entry.directory, entry.name, entry.path));
}

Status FileManager::createDirectory(const DirectoryEntry& entry) const {
    if (sysMkdirAt(entry.directory, entry.name, 0777) != 0) {
        return errorForErrno(errno, FileAccess::Write, entry.path);
    }
    return {};
}

std::vector<std::string> FileManager::pathsForDirectory(SearchPathDirectory directory) const {
    switch (directory) {
        case SearchPathDirectory::Document:
            return {Sandbox::documentsDirectory()};
        case SearchPathDirectory::Library:
            return {Sandbox::libraryDirectory()};
        case SearchPathDirectory::Caches:
            return {Sandbox::cachesDirectory()};
        case SearchPathDirectory::ApplicationSupport:
            return {Sandbox::applicationSupportDirectory()};
    }
    return {};
}

namespace {

// Sets or removes the exclusion attribute through `attribute` (answering 0 or -1 with errno, as
// setxattr and removexattr do), or, where the file system keeps none, in the exclusion list.
Status applyExclusion(const std::string& path, bool excluded,
                      const std::function<int(bool set)>& attribute) {
    bool attributeDone = false;
    if (excluded) {
        if (!injected("setxattr") && attribute(true) == 0) {
            attributeDone = true;
        } else if (!noExtendedAttributes(errno)) {
            return FileManager::errorForErrno(errno, FileAccess::Write, path);
        }
    } else if (!injected("removexattr") && attribute(false) != 0 && errno != ENODATA &&
               !noExtendedAttributes(errno)) {
        return FileManager::errorForErrno(errno, FileAccess::Write, path);
    }

    dispatch::Lock lock(exclusionMutex());
    auto entries = readExclusions();
    auto key = exclusionKey(path);
    bool changed =
        (excluded && !attributeDone) ? entries.insert(key).second : entries.erase(key) > 0;
    if (changed) return toStatus(writeExclusions(entries));
    return {};
}

}  // namespace

Status FileManager::setExcludedFromBackup(const std::string& path, bool excluded) const {
    struct stat st;
    if (sysLstat(path, &st) != 0) return errorForErrno(errno, FileAccess::Write, path);
    return applyExclusion(path, excluded, [&](bool set) {
        return set ? ::lsetxattr(path.c_str(), kExcludeFromBackupAttribute, "1", 1, 0)
                   : ::lremovexattr(path.c_str(), kExcludeFromBackupAttribute);
    });
}

Status FileManager::setExcludedFromBackup(const DirectoryEntry& entry, bool excluded) const {
    struct stat st;
    if (sysLstatAt(entry.directory, entry.name, &st) != 0) {
        return errorForErrno(errno, FileAccess::Write, entry.path);
    }
    // The entry itself; a link keeps no attribute of its own, as with lsetxattr.
    Fd fd(::openat(entry.directory, entry.name.c_str(),
                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    const int openError = fd ? 0 : errno;
    return applyExclusion(entry.path, excluded, [&](bool set) {
        if (!fd) {
            errno = openError == ELOOP ? EPERM : openError;
            return -1;
        }
        return set ? ::fsetxattr(fd.get(), kExcludeFromBackupAttribute, "1", 1, 0)
                   : ::fremovexattr(fd.get(), kExcludeFromBackupAttribute);
    });
}

bool FileManager::isExcludedFromBackup(const std::string& path) const {
    char value[4] = {};
    if (!injected("getxattr") &&
        ::lgetxattr(path.c_str(), kExcludeFromBackupAttribute, value, sizeof value) > 0) {
        return value[0] == '1';
    }
    dispatch::Lock lock(exclusionMutex());
    return readExclusions().count(exclusionKey(path)) > 0;
}

}  // namespace ns
