#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ns/FileHandle.h"
#include "proto/logbook.pb.h"

// Appends events to one queue file: each record is the event's byte length as a base-128
// varint, then the serialized event. The file is created exclusively (mode 0600) and written
// unbuffered, a record at a time, so a crash loses at most the record in flight.
class NEBLogbookWriter {
public:
    // Creates the parent directories and the file; on failure (logged, except for a file that
    // exists already) the writer stays closed and every write fails.
    explicit NEBLogbookWriter(const std::string& path);

    // Whether the file exists already, so the caller should pick another name.
    bool fileExisted() const { return existed_; }
    bool isOpen() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }
    // Bytes of whole records written through this writer.
    uint64_t numBytes() const { return numBytes_; }

    // Writes one whole record or nothing: a short write is cut back off the file.
    bool writeLogEvent(const NEB_LOGBOOK::LogEvent& event);
    void close() { file_.reset(); }

private:
    std::string path_;
    std::unique_ptr<ns::FileHandle> file_;
    uint64_t numBytes_ = 0;
    bool existed_ = false;
    std::string buffer_;  // reused for every record of the file
};
