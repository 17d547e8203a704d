#include "platform/ns/FileHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace ns {
namespace {

constexpr size_t kReadChunk = size_t{1} << 20;

Error failure(FileAccess access, const std::string& path) {
    return FileManager::errorForErrno(errno ? errno : EIO, access, path);
}

}  // namespace

Result<std::unique_ptr<FileHandle>> FileHandle::open(const std::string& path, int flags,
                                                     FileAccess access, mode_t mode) {
    if (FileManager::consumeFault("open")) return failure(access, path);
    int fd;
    do fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, mode);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return failure(access, path);
    // Non-blocking only for the open itself; reads and writes of a regular file ignore it,
    // and anything else should wait as usual.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return std::unique_ptr<FileHandle>(new FileHandle(fd, path));
}

std::unique_ptr<FileHandle> FileHandle::fileHandleWithFileDescriptor(FileDescriptor fd,
                                                                     std::string path) {
    const int raw = fd.release();
    ::fcntl(raw, F_SETFL, ::fcntl(raw, F_GETFL) & ~O_NONBLOCK);
    return std::unique_ptr<FileHandle>(new FileHandle(raw, std::move(path)));
}

Result<std::unique_ptr<FileHandle>> FileHandle::fileHandleForReadingAtPath(
    const std::string& path) {
    return open(path, O_RDONLY, FileAccess::Read);
}

Result<std::unique_ptr<FileHandle>> FileHandle::fileHandleForWritingAtPath(
    const std::string& path) {
    return open(path, O_WRONLY, FileAccess::Write);
}

Result<std::unique_ptr<FileHandle>> FileHandle::fileHandleForAppendingAtPath(
    const std::string& path, bool create) {
    return open(path, O_WRONLY | O_APPEND | (create ? O_CREAT : 0), FileAccess::Write);
}

Result<std::unique_ptr<FileHandle>> FileHandle::fileHandleForCreatingAtPath(const std::string& path,
                                                                            mode_t mode) {
    return open(path, O_WRONLY | O_CREAT | O_EXCL, FileAccess::Write, mode);
}

FileHandle::~FileHandle() {
    ::close(fd_);
}

Result<FileAttributes> FileHandle::attributes() const {
    struct stat st;
    if (FileManager::consumeFault("stat") || ::fstat(fd_, &st) != 0) {
        return failure(FileAccess::Read, path_);
    }
    FileAttributes a;
    a.size = static_cast<uint64_t>(st.st_size);
    a.type = S_ISREG(st.st_mode)   ? FileType::Regular
             : S_ISDIR(st.st_mode) ? FileType::Directory
                                   : FileType::Other;
    auto toDate = [](const struct timespec& t) {
        return Date::fromTimeIntervalSince1970(static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9);
    };
    a.modificationDate = toDate(st.st_mtim);
    a.creationDate = a.modificationDate;
    a.posixPermissions = st.st_mode & 07777;
    return a;
}

Result<Data> FileHandle::readDataOfLength(uint64_t length) {
    std::vector<uint8_t> bytes;
    struct stat st;
    if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
        off_t here = ::lseek(fd_, 0, SEEK_CUR);
        if (here >= 0 && st.st_size > here) {
            bytes.reserve(static_cast<size_t>(
                std::min<uint64_t>(length, static_cast<uint64_t>(st.st_size - here))));
        }
    }
    while (bytes.size() < length) {
        const size_t room = bytes.capacity() - bytes.size();
        const size_t want = static_cast<size_t>(
            std::min<uint64_t>(length - bytes.size(), room > 0 ? room : kReadChunk));
        const size_t old = bytes.size();
        bytes.resize(old + want);
        ssize_t n;
        if (FileManager::consumeFault("read")) {
            n = -1;
        } else {
            do n = ::read(fd_, bytes.data() + old, want);
            while (n < 0 && errno == EINTR);
        }
        if (n < 0) return failure(FileAccess::Read, path_);
        bytes.resize(old + static_cast<size_t>(n));
        if (n == 0) break;
    }
    return Data(std::move(bytes));
}

Status FileHandle::writeData(std::string_view bytes) {
    while (!bytes.empty()) {
        if (FileManager::consumeFault("write")) return failure(FileAccess::Write, path_);
        ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failure(FileAccess::Write, path_);
        if (n == 0) {
            errno = EIO;
            return failure(FileAccess::Write, path_);
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return {};
}

Status FileHandle::truncateFileAtOffset(uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX)) {
        errno = EFBIG;
        return failure(FileAccess::Write, path_);
    }
    if (FileManager::consumeFault("truncate") ||
        ::ftruncate(fd_, static_cast<off_t>(offset)) != 0) {
        return failure(FileAccess::Write, path_);
    }
    return seekToFileOffset(offset);
}

Result<uint64_t> FileHandle::offsetInFile() const {
    off_t here = ::lseek(fd_, 0, SEEK_CUR);
    if (here < 0) return failure(FileAccess::Read, path_);
    return static_cast<uint64_t>(here);
}

Status FileHandle::seekToFileOffset(uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX)) {
        errno = EINVAL;
        return failure(FileAccess::Read, path_);
    }
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
        return failure(FileAccess::Read, path_);
    }
    return {};
}

Status FileHandle::synchronizeFile() {
    if (FileManager::consumeFault("fsync") || ::fsync(fd_) != 0) {
        return failure(FileAccess::Write, path_);
    }
    return {};
}

}  // namespace ns
