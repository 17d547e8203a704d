#include "platform/net/BackgroundJobStore.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/Log.h"
#include "platform/ns/Sandbox.h"

namespace net {

namespace {

constexpr const char* kJobExtension = ".job";

struct StoreState {
    dispatch::Mutex mutex;
    std::string directory GUARDED_BY(mutex);
    std::set<std::string> claimed GUARDED_BY(mutex);
};

StoreState& state() {
    static auto& s = *new StoreState();
    return s;
}

std::string pathOf(const std::string& directory, const std::string& jobIdentifier) {
    return directory + "/" + jobIdentifier + kJobExtension;
}

void logSkipped(const std::string& path, const std::string& why) {
    ns::Log::write(ns::LogLevel::Error, "net", "background",
                   "Skipping background job file " + path + ": " + why);
}

}  // namespace

void BackgroundJobStore::setDirectory(std::string directory) {
    dispatch::Lock lock(state().mutex);
    state().directory = std::move(directory);
}

std::string BackgroundJobStore::directory() {
    {
        dispatch::Lock lock(state().mutex);
        if (!state().directory.empty()) return state().directory;
    }
    return ns::Sandbox::applicationSupportDirectory() + "/BackgroundTransfers";
}

ns::Status BackgroundJobStore::save(const BackgroundJob& job) {
    std::string dir = directory();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return ns::posixError(ec.value(), dir);
    ::chmod(dir.c_str(), 0700);
    return ns::writeFileAtomically(pathOf(dir, job.identifier()), job.serialized(), 0600);
}

void BackgroundJobStore::remove(const std::string& jobIdentifier) {
    std::error_code ec;
    std::filesystem::remove(pathOf(directory(), jobIdentifier), ec);
}

std::vector<BackgroundJob> BackgroundJobStore::load() {
    std::vector<BackgroundJob> jobs;
    std::error_code walk;
    std::filesystem::directory_iterator it(directory(), walk), end;
    for (; !walk && it != end; it.increment(walk)) {
        std::error_code ec;
        const auto& path = it->path();
        if (path.extension() != kJobExtension || !it->is_regular_file(ec)) continue;
        auto size = it->file_size(ec);
        if (ec || size > BackgroundJob::kMaximumSerializedSize) {
            logSkipped(path.string(), "unreadable or too large");
            std::filesystem::remove(path, ec);
            continue;
        }
        auto bytes = ns::readFile(path.string());
        auto job = bytes ? BackgroundJob::parse(bytes->chars()) : std::nullopt;
        if (!job || job->identifier() != path.stem().string()) {
            logSkipped(path.string(), "not a complete job");
            std::filesystem::remove(path, ec);
            continue;
        }
        jobs.push_back(std::move(*job));
    }
    std::sort(jobs.begin(), jobs.end(), [](const BackgroundJob& a, const BackgroundJob& b) {
        return a.identifier() < b.identifier();
    });
    return jobs;
}

size_t BackgroundJobStore::removeOutlived(double now, double maximumAge) {
    const std::string dir = directory();
    size_t removed = 0;
    for (const auto& job : load()) {
        if (isClaimed(job.identifier())) continue;
        struct stat jobFile {};
        struct stat body {};
        const std::string path = pathOf(dir, job.identifier());
        if (::stat(path.c_str(), &jobFile) != 0) continue;
        const bool bodyGone = ::stat(job.bodyFile().c_str(), &body) != 0;
        // A job file is written once, so its modification time is when the upload began.
        const double age = now - static_cast<double>(jobFile.st_mtim.tv_sec);
        if (!bodyGone && age <= maximumAge) continue;
        ns::Log::write(ns::LogLevel::Default, "net", "background",
                       "Dropping background upload " + job.identifier() +
                           (bodyGone ? ": its body is gone" : ": it is too old to matter"));
        std::error_code ec;
        std::filesystem::remove(job.bodyFile(), ec);
        std::filesystem::remove(path, ec);
        ++removed;
    }
    return removed;
}

bool BackgroundJobStore::claim(const std::string& jobIdentifier) {
    dispatch::Lock lock(state().mutex);
    return state().claimed.insert(jobIdentifier).second;
}

bool BackgroundJobStore::isClaimed(const std::string& jobIdentifier) {
    dispatch::Lock lock(state().mutex);
    return state().claimed.count(jobIdentifier) > 0;
}

void BackgroundJobStore::release(const std::string& jobIdentifier) {
    dispatch::Lock lock(state().mutex);
    state().claimed.erase(jobIdentifier);
}

}  // namespace net
