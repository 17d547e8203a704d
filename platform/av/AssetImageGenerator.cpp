#include "platform/av/AssetImageGenerator.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <vector>

#include "platform/av/VideoCodec.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/Queue.h"

namespace av {

namespace {

ns::Error avError(int64_t code, const std::string& reason) {
    return ns::Error(kAVErrorDomain, code, {{ns::kLocalizedDescriptionKey, reason}});
}

// The media libraries come with a module of their own; without it no video is read.
ns::Error librariesMissing() {
    return avError(AVErrorUnknown, "The media libraries are not available.");
}

std::atomic<int64_t> gWorkBudgetMs{AssetImageGenerator::kDefaultWorkBudget.count()};

// Frame and track work runs on a serial queue of its own while that queue is free: one thread
// in turn, whose caches and allocator pages the last frame left warm, where the global pool
// would hand each frame to its coldest worker, a tenth or more of a small clip's decode. Work that
// comes while the queue is busy (another caller's, or work abandoned past its budget that has not
// stopped yet) goes to the global queue, so that no caller waits behind another's work.
std::atomic<bool> gFrameQueueBusy{false};

dispatch::Queue& frameQueue() {
    // Never destroyed: destroying a queue waits for its running task, and abandoned work may
    // still run when the program ends.
    static auto* queue =
        new std::shared_ptr<dispatch::Queue>(dispatch::Queue::createSerial("av.frames"));
    return **queue;
}

void dispatchFrameWork(std::function<void()> work) {
    bool expected = false;
    if (!gFrameQueueBusy.compare_exchange_strong(expected, true)) {
        dispatch::Queue::global().async(std::move(work));
        return;
    }
    frameQueue().async([work = std::move(work)] {
        // Free again however the work ends, or every later frame would go to the cold pool.
        struct Free {
            ~Free() { gFrameQueueBusy = false; }
        } free;
        work();
    });
}

// Runs `work` off the calling thread and waits for it within the work budget. Work that
// overruns is told to stop and the caller gets an error at once; what the work returns later
// is dropped (it owns everything it touches).
using SharedFile = std::shared_ptr<ns::FileDescriptor>;

template <class T>
ns::Result<T> runWithinBudget(const SharedFile& file,
                              std::function<ns::Result<T>(int, DecodeStop&)> work) {
    struct Shared {
        dispatch::Mutex mutex;
        std::condition_variable done;
        std::optional<ns::Result<T>> result GUARDED_BY(mutex);
        DecodeStop stop;
    };
    auto shared = std::make_shared<Shared>();
    const auto budget = std::chrono::milliseconds(gWorkBudgetMs.load());
    shared->stop.deadline = std::chrono::steady_clock::now() + budget;
    // The work holds the file: a caller that no longer waits may close its own copy.
    dispatchFrameWork([shared, file, work = std::move(work)] {
        auto result = work(file->get(), shared->stop);
        {
            dispatch::Lock lock(shared->mutex);
            shared->result.emplace(std::move(result));
        }
        // Outside the lock, so that the waking caller does not wait for it (it holds `shared`).
        shared->done.notify_all();
    });
    dispatch::Lock lock(shared->mutex);
    // A little past the deadline, so that work that stops at it still hands in its answer.
    const auto until = shared->stop.deadline + std::chrono::milliseconds(50);
    while (!shared->result && lock.waitUntil(shared->done, until) != std::cv_status::timeout) {
    }
    if (!shared->result) {
        shared->stop.cancelled = true;
        return avError(AVErrorUnknown, "The media file took too long to read.");
    }
    return std::move(*shared->result);
}

// The open file if it is a regular one, or the error to answer.
ns::Result<SharedFile> regularFile(SharedFile file) {
    struct stat info {};
    // Devices and pipes never end or block; only a regular file can hold a clip.
    if (!file || !*file || ::fstat(file->get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return avError(AVErrorFileFormatNotRecognized, "The requested URL was not found.");
    }
    return file;
}

// The local regular file behind the URL, opened, or the error to answer.
ns::Result<SharedFile> regularFile(const std::optional<ns::URL>& url) {
    if (!url) return avError(AVErrorUnsupportedURL, "The URL is missing.");
    const auto path = AssetImageGenerator::localPath(*url);
    if (!path) return avError(AVErrorUnsupportedURL, "This media format is not supported.");
    // Without waiting: a FIFO without a writer is no regular file, and is not waited for.
    return regularFile(std::make_shared<ns::FileDescriptor>(
        ::open(path->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)));
}

ns::Result<AssetTrackInfo> trackInfo(const ns::Result<SharedFile>& file) {
    if (!file.ok()) return file.error();
    auto codec = VideoCodec::loaded();
    if (!codec) return librariesMissing();
    return runWithinBudget<AssetTrackInfo>(file.value(), [codec](int input, DecodeStop& stop) {
        return codec->trackInfo(input, stop);
    });
}

}  // namespace

std::chrono::milliseconds AssetImageGenerator::workBudget() {
    return std::chrono::milliseconds(gWorkBudgetMs.load());
}

void AssetImageGenerator::setWorkBudget(std::chrono::milliseconds budget) {
    gWorkBudgetMs = budget.count();
}

AssetImageGenerator::AssetImageGenerator(ns::FileDescriptor file)
    : file_(std::make_shared<ns::FileDescriptor>(std::move(file))) {}

ns::Result<AssetTrackInfo> AssetImageGenerator::loadTrackInfo(const ns::URL& url) {
    return trackInfo(regularFile(url));
}

ns::Result<AssetTrackInfo> AssetImageGenerator::loadTrackInfo(ns::FileDescriptor file) {
    return trackInfo(regularFile(std::make_shared<ns::FileDescriptor>(std::move(file))));
}

std::optional<std::string> AssetImageGenerator::localPath(const ns::URL& url) {
    if (!url.isFileURL()) return std::nullopt;
    const auto host = url.host();
    if (host && !host->empty() && *host != "localhost") return std::nullopt;
    std::string path = url.path();
    if (path.empty() || path.front() != '/') return std::nullopt;
    return path;
}

ns::Result<std::shared_ptr<ui::Bitmap>> AssetImageGenerator::copyCGImageAtTime(
    double seconds) const {
    auto file = file_ ? regularFile(file_) : regularFile(url_);
    if (!file.ok()) return file.error();
    auto codec = VideoCodec::loaded();
    if (!codec) return librariesMissing();
    const bool transform = appliesTransform_;
    return runWithinBudget<std::shared_ptr<ui::Bitmap>>(
        file.value(), [codec, seconds, transform](int input, DecodeStop& stop) {
            return codec->frameAt(input, seconds, transform, stop);
        });
}

}  // namespace av
