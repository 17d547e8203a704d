#include "sdk/core/NEBLogbookAccountData.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/ns/CharacterSet.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/Format.h"
#include "platform/ns/PercentEncoding.h"
#include "sdk/core/NEBCoreLogger.h"
#include "sdk/core/NEBCoreMessageCodes.h"
#include "sdk/core/NEBCoreTime.h"

namespace {

// How often a new file name is tried when the millisecond's name is taken already.
constexpr int kMaxNameAttempts = 100;

struct QueuedFile {
    std::string path;
    int64_t millis;
    std::string name;
    uint64_t size;
};

}  // namespace

NEBLogbookAccountData::NEBLogbookAccountData(std::string accountLogDirectory,
                                             uint64_t maxQueueNumBytes)
    : accountLogDirectory_(std::move(accountLogDirectory)), maxQueueNumBytes_(maxQueueNumBytes) {}

std::string NEBLogbookAccountData::directoryNameForAccount(std::string_view account) {
    static const auto allowed = [] {
        auto set = ns::CharacterSet::alphanumericCharacterSet();
        set.addCharactersInString("-_~");
        return set;
    }();
    return ns::percentEncode(account, allowed);
}

std::string NEBLogbookAccountData::logSourceDirectory(int32_t logSource) const {
    return accountLogDirectory_ + "/" + ns::format("%d", logSource);
}

std::string NEBLogbookAccountData::filenameWithCurrentTimeInDirectory(
    const std::string& directory) {
    return directory + "/" + ns::format("%lld", static_cast<long long>(NEBCoreTimeMillis()));
}

std::shared_ptr<NEBLogbookWriter> NEBLogbookAccountData::writerForLogSource(int32_t logSource) {
    if (auto it = logSourceToWriter_.find(logSource); it != logSourceToWriter_.end()) {
        return it->second;
    }
    auto directory = logSourceDirectory(logSource);
    auto base = filenameWithCurrentTimeInDirectory(directory);
    std::shared_ptr<NEBLogbookWriter> writer;
    // Two files started within one millisecond would share a name; the second takes a suffix.
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        auto path = attempt == 0 ? base : ns::format("%@-%d", base, attempt);
        writer = std::make_shared<NEBLogbookWriter>(path);
        if (!writer->fileExisted()) break;
    }
    if (writer->fileExisted()) {
        NEBCoreLogError(kNEBLoggerCore, kNEBLoggerCoreLogbookFileFailed,
                        "Failed to create %@, error (%d)", writer->path(), EEXIST);
    }
    if (writer->isOpen()) trimQueue(directory, writer->path());
    logSourceToWriter_[logSource] = writer;
    return writer;
}

void NEBLogbookAccountData::removeWriterForLogSource(int32_t logSource) {
    logSourceToWriter_.erase(logSource);
}

void NEBLogbookAccountData::flushWriters() {
    for (auto& [source, writer] : logSourceToWriter_) writer->close();
    logSourceToWriter_.clear();
}

void NEBLogbookAccountData::trimQueue(const std::string& directory, const std::string& keep) const {
    auto& files = ns::FileManager::defaultManager();
    auto names = files.contentsOfDirectory(directory);
    if (!names.ok()) return;
    std::vector<QueuedFile> queued;
    uint64_t total = 0;
    for (const auto& name : *names) {
        auto path = directory + "/" + name;
        if (path == keep) continue;
        auto attributes = files.attributesOfItem(path);
        if (!attributes.ok() || attributes->type != ns::FileType::Regular) continue;
        queued.push_back({path, std::strtoll(name.c_str(), nullptr, 10), name, attributes->size});
        total += attributes->size;
    }
    std::sort(queued.begin(), queued.end(), [](const QueuedFile& a, const QueuedFile& b) {
        if (a.millis != b.millis) return a.millis < b.millis;
        if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
        return a.name < b.name;
    });
    for (const auto& file : queued) {
        if (total <= maxQueueNumBytes_) break;
        if (files.removeItem(file.path).ok()) total -= file.size;
    }
}
