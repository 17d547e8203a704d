#include "platform/ns/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ns {

namespace {

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now, reporting the error that a deferred write may only show here.
    int close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

  private:
    int fd_;
};

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

Status writeAll(int fd, std::string_view bytes, const std::string& path) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return posixError(errno, path);
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return {};
}

// Writes the temporary file completely and durably; the caller renames or removes it.
Status fillTemporary(int fd, std::string_view bytes, mode_t mode, const std::string& path) {
    if (::fchmod(fd, mode) != 0) return posixError(errno, path);
    if (Status s = writeAll(fd, bytes, path); !s) return s;
    if (::fsync(fd) != 0) return posixError(errno, path);
    return {};
}

}  // namespace

Error posixError(int code, const std::string& path) {
    Dictionary info{{kLocalizedDescriptionKey, Value(std::strerror(code))}};
    if (!path.empty()) info.emplace(kFilePathErrorKey, Value(path));
    return Error(kPOSIXErrorDomain, code, std::move(info));
}

Status writeFileAtomically(const std::string& path, std::string_view bytes, mode_t mode) {
    const std::string dir = directoryOf(path);
    // A hidden name, so that folder listings during the write do not show it.
    std::string temp = dir + "/." + fileNameOf(path) + ".tmp-XXXXXX";
    FileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) return posixError(errno, path);

    Status status = fillTemporary(fd.get(), bytes, mode, path);
    if (status && fd.close() != 0) status = posixError(errno, path);
    if (status && ::rename(temp.c_str(), path.c_str()) != 0) status = posixError(errno, path);
    if (!status) {
        ::unlink(temp.c_str());
        return status;
    }
    // Make the rename itself durable. The new contents are in place whatever happens here, so
    // a file system that cannot sync a directory is no reason to report failure.
    FileDescriptor dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() >= 0) ::fsync(dirFd.get());
    return {};
}

Result<Data> readFile(const std::string& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return posixError(errno, path);
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
