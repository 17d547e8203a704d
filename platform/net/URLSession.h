#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLSessionConfiguration.h"
#include "platform/net/URLSessionDelegate.h"
#include "platform/net/URLSessionTask.h"
#include "platform/ns/Data.h"
#include "platform/ns/URL.h"

namespace net {

// The platform's URL session: runs data, upload and download tasks over HTTP and HTTPS (or
// through a registered URLProtocol) and reports on its delegate queue, never on the thread
// that moves the bytes. Redirections are never followed behind the delegate's back: each one
// is offered to willPerformHTTPRedirection and a followed one is a new transfer.
//
// The session holds its delegate strongly while it has unfinished tasks and weakly otherwise,
// so that a delegate that owns its session is not kept alive by it once the work is done;
// invalidation lets the delegate go for good, after didBecomeInvalidWithError.
//
// Background sessions (a configuration with an identifier) keep every upload task from a file
// on disk, in the background jobs directory, from resume() until its completion has been
// delivered. A session made later (in this run or the next) with the same identifier takes the
// jobs left there up again: it uploads them anew, reports each completion to its delegate and
// then calls didFinishEventsForBackgroundURLSession. An upload that fails before anything of it
// could leave (no network, a name not found) waits for the network and goes then; one whose
// connection was lost or timed out goes again by itself only when its method may safely go
// twice, and otherwise completes with that error.
//
// Every operation may be called from any thread.
class URLSession : public std::enable_shared_from_this<URLSession> {
public:
    using DataCompletion = URLSessionTask::DataCompletion;
    using DownloadCompletion = URLSessionTask::DownloadCompletion;
    // The application's background-events callback: the session identifier and the handler
    // the application calls once it has dealt with the events.
    using BackgroundEventsHandler =
        std::function<void(const std::string& identifier, std::function<void()> completion)>;

    // Without a queue, the session makes a serial queue of its own. A queue given here should
    // be serial (or the main queue): a task's events are posted in order, one after another.
    static std::shared_ptr<URLSession> sessionWithConfiguration(
        URLSessionConfiguration configuration,
        std::shared_ptr<URLSessionDelegate> delegate = nullptr,
        std::shared_ptr<dispatch::Queue> delegateQueue = nullptr);

    ~URLSession();
    URLSession(const URLSession&) = delete;
    URLSession& operator=(const URLSession&) = delete;

    const URLSessionConfiguration& configuration() const { return configuration_; }
    std::shared_ptr<URLSessionDelegate> delegate() const;
    const std::shared_ptr<dispatch::Queue>& delegateQueue() const { return queue_; }

    // New tasks, suspended. Making a task in an invalidated session is a programming fault
    // (ns::Exception).
    std::shared_ptr<URLSessionTask> dataTask(URLRequest request, DataCompletion completion = {});
    std::shared_ptr<URLSessionTask> uploadTask(URLRequest request, ns::Data fromData,
                                               DataCompletion completion = {});
    std::shared_ptr<URLSessionTask> uploadTask(URLRequest request, const ns::URL& fromFile,
                                               DataCompletion completion = {});
    std::shared_ptr<URLSessionTask> downloadTask(URLRequest request,
                                                 DownloadCompletion completion = {});

    // Cancels every unfinished task and invalidates the session.
    void invalidateAndCancel();
    // Lets unfinished tasks complete, then invalidates the session.
    void finishTasksAndInvalidate();

    // Where background sessions keep their jobs. Until set: "BackgroundTransfers" in the
    // sandbox's Application Support directory.
    static void setBackgroundJobsDirectory(std::string directory);
    // At launch: drops the jobs that outlived their use (BackgroundJob::kMaximumAge, or their
    // body gone), then calls `handler` once for each background session identifier that has
    // jobs left from an earlier run and no session taking them up yet; the application
    // answers by making a session with that identifier. Returns how many identifiers were
    // reported.
    static size_t resumePendingBackgroundJobs(const BackgroundEventsHandler& handler);

private:
    friend class URLSessionTask;
    struct PassKey {};

public:
    URLSession(PassKey, URLSessionConfiguration configuration,
               std::shared_ptr<URLSessionDelegate> delegate,
               std::shared_ptr<dispatch::Queue> delegateQueue);

private:
    std::shared_ptr<URLSessionTask> addTask(URLSessionTask::Kind kind, URLRequest request,
                                            URLSessionTask::Body body);
    void takeUpPendingJobs();
    // Called on the delegate queue once a task's completion has been delivered.
    void taskDidComplete(const std::shared_ptr<URLSessionTask>& task);
    // Delivers the invalidation once the last task is done; calls the delegate with the lock
    // released.
    void becomeInvalidIfDone() REQUIRES(mutex_);

    const URLSessionConfiguration configuration_;
    const std::shared_ptr<dispatch::Queue> queue_;

    mutable dispatch::Mutex mutex_;
    std::shared_ptr<URLSessionDelegate> strongDelegate_ GUARDED_BY(mutex_);
    std::weak_ptr<URLSessionDelegate> weakDelegate_ GUARDED_BY(mutex_);
    std::map<uint64_t, std::shared_ptr<URLSessionTask>> unfinished_ GUARDED_BY(mutex_);
    std::set<uint64_t> takenUp_ GUARDED_BY(mutex_);  // tasks of jobs left by an earlier session
    uint64_t nextTaskIdentifier_ GUARDED_BY(mutex_) = 1;
    bool invalidated_ GUARDED_BY(mutex_) = false;
    bool invalidationDelivered_ GUARDED_BY(mutex_) = false;
};

}  // namespace net
