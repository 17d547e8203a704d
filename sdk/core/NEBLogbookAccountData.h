#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/core/NEBLogbookWriter.h"

// The queue of one account: a directory per log source, each holding files named by their
// creation time in milliseconds, and the writer of each source's open file. Used only on the
// uploader's queue.
class NEBLogbookAccountData {
public:
    // `maxQueueNumBytes` bounds each log source's files on disk: when a new file starts, the
    // oldest others go until the rest fit, so a device that cannot upload for a long time does
    // not fill its storage.
    NEBLogbookAccountData(std::string accountLogDirectory, uint64_t maxQueueNumBytes);

    const std::string& accountLogDirectory() const { return accountLogDirectory_; }

    // The open writer of the source, starting a new file on first use. Null when no file could
    // be made (logged).
    std::shared_ptr<NEBLogbookWriter> writerForLogSource(int32_t logSource);
    void removeWriterForLogSource(int32_t logSource);
    // Closes and forgets every open writer, so their files become uploadable.
    void flushWriters();
    // DIRECTORY/<milliseconds since 1970>.
    static std::string filenameWithCurrentTimeInDirectory(const std::string& directory);
    // A directory name for an account: every byte but letters, digits, "-", "_" and "~"
    // becomes "%XX", so no account name can reach outside its parent directory.
    static std::string directoryNameForAccount(std::string_view account);

private:
    std::string logSourceDirectory(int32_t logSource) const;
    void trimQueue(const std::string& directory, const std::string& keep) const;

    std::string accountLogDirectory_;
    uint64_t maxQueueNumBytes_;
    std::map<int32_t, std::shared_ptr<NEBLogbookWriter>> logSourceToWriter_;
};
