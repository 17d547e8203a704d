#include "sdk/core/NEBLogbookWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/ns/FileManager.h"
#include "sdk/core/NEBCoreLogger.h"
#include "sdk/core/NEBCoreMessageCodes.h"
#include "sdk/core/pb.h"

NEBLogbookWriter::NEBLogbookWriter(const std::string& path) : path_(path) {
    auto parent = std::filesystem::path(path).parent_path().string();
    auto created = ns::FileManager::defaultManager().createDirectory(parent, true);
    if (!created.ok()) {
        NEBCoreLogError(kNEBLoggerCore, kNEBLoggerCoreLogbookDirectoryFailed,
                        "Failed to create directory: %@", created.error());
        return;
    }
    do {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        existed_ = errno == EEXIST;
        if (existed_) return;  // the caller picks another name
        NEBCoreLogError(kNEBLoggerCore, kNEBLoggerCoreLogbookFileFailed,
                        "Failed to create %@, error (%d)", path, errno);
    }
}

NEBLogbookWriter::~NEBLogbookWriter() {
    close();
}

bool NEBLogbookWriter::writeLogEvent(const NEB_LOGBOOK::LogEvent& event) {
    if (fd_ < 0) return false;
    const size_t length = event.ByteSizeLong();
    if (length > UINT32_MAX) return false;
    // Prefix and body are laid out in one buffer, reused for every record of the file, and go
    // out in a single write: appending allocates nothing, and no record is ever split across
    // two system calls.
    const auto prefixLength =
        pb::io::CodedOutputStream::VarintSize32(static_cast<uint32_t>(length));
    const size_t total = prefixLength + length;
    if (buffer_.size() < total) buffer_.resize(total);
    pb::io::CodedOutputStream::WriteVarint32ToArray(static_cast<uint32_t>(length), buffer_.data());
    event.SerializeWithCachedSizesToArray(buffer_.data() + prefixLength);
    ssize_t written;
    do {
        written = ::write(fd_, buffer_.data(), total);
    } while (written < 0 && errno == EINTR);
    if (written == static_cast<ssize_t>(total)) {
        numBytes_ += total;
        return true;
    }
    // Part of a record would read as a torn tail: cut it off so the file ends on a whole
    // record, and go on writing from there.
    if (written > 0) {
        if (::ftruncate(fd_, static_cast<off_t>(numBytes_)) != 0 ||
            ::lseek(fd_, static_cast<off_t>(numBytes_), SEEK_SET) < 0) {
            close();  // the file cannot be trusted any more; the reader drops the tail
        }
    }
    return false;
}

void NEBLogbookWriter::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}
