#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ns/Data.h"
#include "platform/ns/FileDescriptor.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/Result.h"

namespace ns {

// An open file (the platform's file handle): reads and writes at its offset, truncation and
// flushing, failing with the platform's file errors (see FileManager). Opening never waits,
// so a FIFO without a peer cannot hang the caller. Shares FileManager's fault seam; besides
// its names, "truncate" stands for setting a file's length. Not for use by two threads at once.
class FileHandle {
public:
    static Result<std::unique_ptr<FileHandle>> fileHandleForReadingAtPath(const std::string& path);
    // An existing file, written from offset 0 on.
    static Result<std::unique_ptr<FileHandle>> fileHandleForWritingAtPath(const std::string& path);
    // Every write goes to the end of the file; a missing file is created (mode 0666 less the
    // umask) when `create` says so.
    static Result<std::unique_ptr<FileHandle>> fileHandleForAppendingAtPath(const std::string& path,
                                                                            bool create);
    // A new file, written from offset 0 on, created with `mode` (less the umask); a file that
    // exists already fails with the file-exists error.
    static Result<std::unique_ptr<FileHandle>> fileHandleForCreatingAtPath(const std::string& path,
                                                                           mode_t mode);

    // Takes over a descriptor opened elsewhere (ConfinedFile); a non-blocking one that was
    // opened so only for the open itself becomes blocking. `path` names it in errors.
    static std::unique_ptr<FileHandle> fileHandleWithFileDescriptor(FileDescriptor fd,
                                                                    std::string path);

    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    const std::string& path() const { return path_; }
    int fileDescriptor() const { return fd_; }
    // Of the open file (a symbolic link on the way has been followed).
    Result<FileAttributes> attributes() const;

    // Up to `length` bytes from the offset on: fewer at the end of the file. Memory grows
    // with what is read, not with `length`.
    Result<Data> readDataOfLength(uint64_t length);
    // Every byte, however many calls the system needs.
    Status writeData(std::string_view bytes);
    Status writeData(const Data& data) { return writeData(data.chars()); }
    // Sets the file's length (cutting it or extending it with zero bytes) and moves the
    // offset there.
    Status truncateFileAtOffset(uint64_t offset);
    Result<uint64_t> offsetInFile() const;
    Status seekToFileOffset(uint64_t offset);
    // Flushes the file's data to storage.
    Status synchronizeFile();

private:
    FileHandle(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    static Result<std::unique_ptr<FileHandle>> open(const std::string& path, int flags,
                                                    FileAccess access, mode_t mode = 0666);

    int fd_;
    std::string path_;
};

}  // namespace ns
