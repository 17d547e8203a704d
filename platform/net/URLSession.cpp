#include "platform/net/URLSession.h"

#include <set>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "platform/net/BackgroundJobStore.h"
#include "platform/ns/Exception.h"

namespace net {

std::shared_ptr<URLSession> URLSession::sessionWithConfiguration(
    URLSessionConfiguration configuration, std::shared_ptr<URLSessionDelegate> delegate,
    std::shared_ptr<dispatch::Queue> delegateQueue) {
    auto session = std::make_shared<URLSession>(PassKey{}, std::move(configuration),
                                                std::move(delegate), std::move(delegateQueue));
    if (session->configuration_.isBackground()) session->takeUpPendingJobs();
    return session;
}

URLSession::URLSession(PassKey, URLSessionConfiguration configuration,
                       std::shared_ptr<URLSessionDelegate> delegate,
                       std::shared_ptr<dispatch::Queue> delegateQueue)
    : configuration_(std::move(configuration)),
      queue_(delegateQueue ? std::move(delegateQueue)
                           : dispatch::Queue::createSerial("net.session.delegate")),
      strongDelegate_(delegate),
      weakDelegate_(delegate) {}

URLSession::~URLSession() = default;

std::shared_ptr<URLSessionDelegate> URLSession::delegate() const {
    dispatch::Lock lock(mutex_);
    return strongDelegate_ ? strongDelegate_ : weakDelegate_.lock();
}

std::shared_ptr<URLSessionTask> URLSession::addTask(URLSessionTask::Kind kind, URLRequest request,
                                                    URLSessionTask::Body body) {
    dispatch::Lock lock(mutex_);
    if (invalidated_) {
        throw ns::Exception(ns::kGenericException,
                            "Task created in a session that has been invalidated");
    }
    const uint64_t identifier = nextTaskIdentifier_++;
    std::shared_ptr<URLSessionTask> task(new URLSessionTask(shared_from_this(), kind, identifier,
                                                            std::move(request), std::move(body)));
    unfinished_.emplace(identifier, task);
    if (!strongDelegate_) strongDelegate_ = weakDelegate_.lock();
    return task;
}

std::shared_ptr<URLSessionTask> URLSession::dataTask(URLRequest request,
                                                     DataCompletion completion) {
    auto task = addTask(URLSessionTask::Kind::Data, std::move(request), {});
    task->dataCompletion_ = std::move(completion);
    return task;
}

std::shared_ptr<URLSessionTask> URLSession::uploadTask(URLRequest request, ns::Data fromData,
                                                       DataCompletion completion) {
    auto task =
        addTask(URLSessionTask::Kind::Upload, std::move(request), {std::move(fromData), {}});
    task->dataCompletion_ = std::move(completion);
    return task;
}

std::shared_ptr<URLSessionTask> URLSession::uploadTask(URLRequest request, const ns::URL& fromFile,
                                                       DataCompletion completion) {
    if (!fromFile.isFileURL()) {
        throw ns::Exception(ns::kInvalidArgumentException,
                            "Cannot read file at " + fromFile.absoluteString());
    }
    auto task = addTask(URLSessionTask::Kind::Upload, std::move(request), {{}, fromFile.path()});
    task->dataCompletion_ = std::move(completion);
    return task;
}

std::shared_ptr<URLSessionTask> URLSession::downloadTask(URLRequest request,
                                                         DownloadCompletion completion) {
    auto task = addTask(URLSessionTask::Kind::Download, std::move(request), {});
    task->downloadCompletion_ = std::move(completion);
    return task;
}

void URLSession::invalidateAndCancel() {
    std::vector<std::shared_ptr<URLSessionTask>> tasks;
    {
        dispatch::Lock lock(mutex_);
        invalidated_ = true;
        for (const auto& [identifier, task] : unfinished_) tasks.push_back(task);
    }
    for (const auto& task : tasks) task->cancel();
    finishTasksAndInvalidate();
}

void URLSession::finishTasksAndInvalidate() {
    dispatch::Lock lock(mutex_);
    invalidated_ = true;
    if (!unfinished_.empty()) return;
    auto self = shared_from_this();
    queue_->async([self] {
        dispatch::Lock lock(self->mutex_);
        self->becomeInvalidIfDone();
    });
}

void URLSession::becomeInvalidIfDone() {
    if (!invalidated_ || !unfinished_.empty() || invalidationDelivered_) return;
    invalidationDelivered_ = true;
    auto delegate = strongDelegate_ ? strongDelegate_ : weakDelegate_.lock();
    strongDelegate_.reset();
    weakDelegate_.reset();
    mutex_.unlock();
    if (delegate) delegate->didBecomeInvalidWithError(*this, std::nullopt);
    mutex_.lock();
}

void URLSession::taskDidComplete(const std::shared_ptr<URLSessionTask>& task) {
    const std::string& jobIdentifier = task->backgroundJobId_;
    if (!jobIdentifier.empty()) {
        BackgroundJobStore::remove(jobIdentifier);
        BackgroundJobStore::release(jobIdentifier);
    }
    dispatch::Lock lock(mutex_);
    unfinished_.erase(task->taskIdentifier());
    if (takenUp_.erase(task->taskIdentifier()) > 0 && takenUp_.empty()) {
        auto delegate = strongDelegate_ ? strongDelegate_ : weakDelegate_.lock();
        lock.unlock();
        if (delegate) delegate->didFinishEventsForBackgroundURLSession(*this);
        lock.lock();
    }
    becomeInvalidIfDone();
    if (unfinished_.empty()) strongDelegate_.reset();
}

void URLSession::takeUpPendingJobs() {
    std::vector<std::shared_ptr<URLSessionTask>> tasks;
    for (auto& job : BackgroundJobStore::load()) {
        if (job.sessionIdentifier() != *configuration_.identifier()) continue;
        if (!BackgroundJobStore::claim(job.identifier())) continue;
        auto task = addTask(URLSessionTask::Kind::Upload, job.request(), {{}, job.bodyFile()});
        task->backgroundJobId_ = job.identifier();
        tasks.push_back(std::move(task));
    }
    {
        dispatch::Lock lock(mutex_);
        for (const auto& task : tasks) takenUp_.insert(task->taskIdentifier());
    }
    for (const auto& task : tasks) task->resume();
}

void URLSession::setBackgroundJobsDirectory(std::string directory) {
    BackgroundJobStore::setDirectory(std::move(directory));
}

size_t URLSession::resumePendingBackgroundJobs(const BackgroundEventsHandler& handler) {
    BackgroundJobStore::removeOutlived(dispatch::Clock::current().wallTime(),
                                       BackgroundJob::kMaximumAge);
    std::set<std::string> identifiers;
    for (const auto& job : BackgroundJobStore::load()) {
        if (!BackgroundJobStore::isClaimed(job.identifier())) {
            identifiers.insert(job.sessionIdentifier());
        }
    }
    for (const auto& identifier : identifiers) handler(identifier, [] {});
    return identifiers.size();
}

}  // namespace net
