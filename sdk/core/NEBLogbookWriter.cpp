#include "sdk/core/NEBLogbookWriter.h"

#include <cerrno>
#include <filesystem>

#include "sdk/core/NEBCoreLogger.h"
#include "sdk/core/NEBCoreMessageCodes.h"
#include "sdk/core/pb.h"

NEBLogbookWriter::NEBLogbookWriter(const std::string& path) : path_(path) {
    auto& files = ns::FileManager::defaultManager();
    auto created = files.createDirectory(std::filesystem::path(path).parent_path().string(), true);
    if (!created.ok()) {
        NEBCoreLogError(kNEBLoggerCore, kNEBLoggerCoreLogbookDirectoryFailed,
                        "Failed to create directory: %@", created.error());
        return;
    }
    auto file = ns::FileHandle::fileHandleForCreatingAtPath(path, 0600);
    if (file) {
        file_ = std::move(*file);
        return;
    }
    const int error = ns::FileManager::posixErrno(file.error());
    existed_ = error == EEXIST;
    if (existed_) return;  // the caller picks another name
    NEBCoreLogError(kNEBLoggerCore, kNEBLoggerCoreLogbookFileFailed,
                    "Failed to create %@, error (%d)", path, error);
}

bool NEBLogbookWriter::writeLogEvent(const NEB_LOGBOOK::LogEvent& event) {
    if (!file_) return false;
    const size_t length = event.ByteSizeLong();
    if (length > UINT32_MAX) return false;
    // Prefix and body are laid out in one buffer and go out together, so that appending
    // allocates nothing once the buffer has grown.
    const auto prefixLength =
        pb::io::CodedOutputStream::VarintSize32(static_cast<uint32_t>(length));
    buffer_.resize(prefixLength + length);
    auto* bytes = reinterpret_cast<uint8_t*>(buffer_.data());
    pb::io::CodedOutputStream::WriteVarint32ToArray(static_cast<uint32_t>(length), bytes);
    event.SerializeWithCachedSizesToArray(bytes + prefixLength);
    if (file_->writeData(std::string_view(buffer_))) {
        numBytes_ += buffer_.size();
        return true;
    }
    // Part of a record would read as a torn tail: cut it off so the file ends on a whole
    // record, and go on writing from there; a file that cannot be cut is not trusted any more
    // (the reader drops the tail).
    if (!file_->truncateFileAtOffset(numBytes_)) close();
    return false;
}
