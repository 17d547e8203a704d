#include "platform/ns/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/ns/FileDescriptor.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/TemporaryFiles.h"

namespace ns {

namespace {

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string fileNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The failure of a system call, unless the seam asks for one of `operation` first.
bool fails(std::string_view operation, bool callFailed) {
    return FileManager::consumeFault(operation) || callFailed;
}

Status writeAll(int fd, std::string_view bytes, const std::string& path) {
    while (!bytes.empty()) {
        if (FileManager::consumeFault("write")) return posixError(errno, path);
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return posixError(errno, path);
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return {};
}

// The names and values of a file's extended attributes; empty where there are none or the
// file system keeps none.
std::vector<std::pair<std::string, std::string>> extendedAttributes(int fd) {
    std::vector<std::pair<std::string, std::string>> out;
    ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size <= 0) return out;
    std::string names(static_cast<size_t>(size), '\0');
    size = ::flistxattr(fd, names.data(), names.size());
    if (size <= 0) return out;
    names.resize(static_cast<size_t>(size));
    for (size_t start = 0; start < names.size();) {
        const std::string name(names.c_str() + start);
        start += name.size() + 1;
        const ssize_t length = ::fgetxattr(fd, name.c_str(), nullptr, 0);
        if (length < 0) continue;
        std::string value(static_cast<size_t>(length), '\0');
        const ssize_t got = ::fgetxattr(fd, name.c_str(), value.data(), value.size());
        if (got < 0) continue;
        value.resize(static_cast<size_t>(got));
        out.emplace_back(name, std::move(value));
    }
    return out;
}

// What the new file takes over from the one it replaces.
struct Inherited {
    bool exists = false;
    struct stat st {};
    std::vector<std::pair<std::string, std::string>> attributes;
};

Inherited inheritedFrom(int directory, const std::string& name) {
    Inherited inherited;
    if (::fstatat(directory, name.c_str(), &inherited.st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(inherited.st.st_mode)) {
        return inherited;
    }
    inherited.exists = true;
    FileDescriptor old(
        ::openat(directory, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (old) inherited.attributes = extendedAttributes(old.get());
    return inherited;
}

// Gives the temporary file what the old one had and writes it completely and durably.
Status fillTemporary(int fd, std::string_view bytes, mode_t mode, const Inherited& inherited,
                     const std::string& path) {
    if (inherited.exists) {
        // Only a privileged process may give a file away; otherwise it stays the writer's.
        (void)!::fchown(fd, inherited.st.st_uid, inherited.st.st_gid);
        for (const auto& [name, value] : inherited.attributes) {
            // Best effort: a security label this process may not set stays the system's.
            (void)::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0);
        }
    }
    if (::fchmod(fd, mode) != 0) return posixError(errno, path);
    if (Status s = writeAll(fd, bytes, path); !s) return s;
    if (fails("fsync", ::fsync(fd) != 0)) return posixError(errno, path);
    return {};
}

}  // namespace

Error posixError(int code, const std::string& path) {
    Dictionary info{{kLocalizedDescriptionKey, Value(std::strerror(code))}};
    if (!path.empty()) info.emplace(kFilePathErrorKey, Value(path));
    return Error(kPOSIXErrorDomain, code, std::move(info));
}

Status writeFileAtomicallyAt(int directory, const std::string& name, std::string_view bytes,
                             std::optional<mode_t> mode, const std::string& path) {
    const Inherited inherited = inheritedFrom(directory, name);
    const mode_t permissions =
        mode.value_or(inherited.exists ? inherited.st.st_mode & 07777 : 0644);
    auto temporary = TemporaryFiles::create(directory, name);
    if (!temporary) return posixError(temporary.error().code(), path);
    const std::string temp = temporary->name;

    Status status = fillTemporary(temporary->file.get(), bytes, permissions, inherited, path);
    if (status && temporary->file.close() != 0) status = posixError(errno, path);
    if (status &&
        fails("rename", ::renameat(directory, temp.c_str(), directory, name.c_str()) != 0)) {
        status = posixError(errno, path);
    }
    if (!status) {
        ::unlinkat(directory, temp.c_str(), 0);
        return status;
    }
    // Make the rename itself durable. The new contents are in place whatever happens here, so
    // a file system that cannot sync a directory is no reason to report failure.
    ::fsync(directory);
    return {};
}

Status writeFileAtomically(const std::string& path, std::string_view bytes, mode_t mode) {
    FileDescriptor dir(::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return posixError(errno, path);
    return writeFileAtomicallyAt(dir.get(), fileNameOf(path), bytes, mode, path);
}

Result<Data> readFile(const std::string& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return posixError(errno, path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return posixError(errno, path);
    if (S_ISDIR(st.st_mode)) return posixError(EISDIR, path);
    std::vector<uint8_t> bytes;
    bytes.reserve(st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0);
    uint8_t chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return posixError(errno, path);
        }
        if (n == 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return Data(std::move(bytes));
}

}  // namespace ns
