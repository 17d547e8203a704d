#include "sdk/core/NEBNetworkURLSession.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/BackgroundJobStore.h"
#include "platform/net/URLCredential.h"
#include "platform/net/URLError.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/UUID.h"
#include "sdk/core/NEBNetworkConstants.h"

namespace {

struct LiveSessions {
    dispatch::Mutex mutex;
    std::map<std::string, std::weak_ptr<NEBNetworkURLSession>> byID GUARDED_BY(mutex);
    // Those that take up an earlier run's uploads, kept until their outcome has an owner.
    std::map<std::string, std::shared_ptr<NEBNetworkURLSession>> restored GUARDED_BY(mutex);
};

LiveSessions& liveSessions() {
    static auto* sessions = new LiveSessions;  // callbacks may still come during exit
    return *sessions;
}

// Trust evaluations run one at a time.
dispatch::Mutex& trustEvaluationLock() {
    static dispatch::Mutex lock;
    return lock;
}

ns::Error networkError(int64_t code, const char* context) {
    return ns::Error(kNEBNetworkErrorDomain, code, {{kNEBNetworkErrorContext, context}});
}

std::shared_ptr<const net::HTTPURLResponse> httpResponse(
    const std::shared_ptr<const net::URLResponse>& response) {
    if (!response || !response->http()) return nullptr;
    return std::shared_ptr<const net::HTTPURLResponse>(response, response->http());
}

// The request's headers and cache policy; the SDK's limits for the client's requests, with the
// request's own time-out.
void populateSessionConfig(net::URLSessionConfiguration& config, const net::URLRequest& request,
                           NEBRequestLimits limits) {
    config.setHTTPAdditionalHeaders(request.allHTTPHeaderFields());
    config.setRequestCachePolicy(request.cachePolicy());
    limits.timeout = request.timeoutInterval();
    config = NEBRequestSession::configured(std::move(config), limits);
}

std::shared_ptr<dispatch::Queue> mainQueue() {
    return dispatch::Queue::main().shared_from_this();
}

bool isNoSuchFile(const ns::Error& error) {
    return error.code() == ns::kFileReadNoSuchFileError || error.code() == ns::kFileNoSuchFileError;
}

}  // namespace

std::shared_ptr<NEBNetworkURLSession> NEBNetworkURLSession::create(
    std::weak_ptr<NEBNetworkLoggerDelegate> loggerDelegate, NEBRequestLimits limits) {
    return std::make_shared<NEBNetworkURLSession>(std::move(loggerDelegate), std::move(limits));
}

NEBNetworkURLSession::NEBNetworkURLSession(std::weak_ptr<NEBNetworkLoggerDelegate> loggerDelegate,
                                           NEBRequestLimits limits)
    : limits_(std::move(limits)), loggerDelegate_(std::move(loggerDelegate)) {
    setSessionID(std::string(kNEBNetworkBackgroundSessionConfigIDPrefix) + "-" +
                 ns::UUID().UUIDString());
}

void NEBNetworkURLSession::setSessionID(std::string sessionID) {
    dispatch::Lock lock(mutex_);
    sessionID_ = std::move(sessionID);
    uploadingFilePath_ = temporaryFilePathWithSessionID(sessionID_);
}

std::string NEBNetworkURLSession::sessionID() const {
    dispatch::Lock lock(mutex_);
    return sessionID_;
}

std::string NEBNetworkURLSession::uploadingFilePath() const {
    dispatch::Lock lock(mutex_);
    return uploadingFilePath_;
}

std::string NEBNetworkURLSession::networkDirectoryPath() {
    return ns::Sandbox::applicationSupportDirectory() + "/" +
           kNEBNetworkApplicationSupportSubdirectory + "/" + kNEBNetworkTempDirectoryName;
}

std::string NEBNetworkURLSession::temporaryFilePathWithSessionID(const std::string& sessionID) {
    return networkDirectoryPath() + "/" + kNEBNetworkTempFolderPrefix + sessionID;
}

std::optional<std::string> NEBNetworkURLSession::sessionIDFromAsyncPOSTRequest(
    const net::URLRequest& request, CompletionHandler handler) {
    maybeRemoveTempFilesAtPath(networkDirectoryPath(), kNEBNetworkTempFolderExpireTime);
    std::optional<net::URLSessionConfiguration> config;
    if (backgroundNetworkEnabled_ && ensureTemporaryDirectoryExists() &&
        writeBodyToTemporaryFile(request)) {
        excludeFromBackup(uploadingFilePath());
        config = net::URLSessionConfiguration::backgroundSessionConfiguration(sessionID());
    } else {
        // Without a body file the upload still runs, in the foreground.
        config = net::URLSessionConfiguration::defaultSessionConfiguration();
        config->setUsesURLCache(false);
    }
    populateSessionConfig(*config, request, limits_);
    return startTask(request, std::move(handler), config->isBackground(), *config);
}

std::optional<std::string> NEBNetworkURLSession::sessionIDFromAsyncGETRequest(
    const net::URLRequest& request, CompletionHandler handler) {
    auto config = backgroundNetworkEnabled_
                      ? net::URLSessionConfiguration::backgroundSessionConfiguration(sessionID())
                      : net::URLSessionConfiguration::defaultSessionConfiguration();
    populateSessionConfig(config, request, limits_);
    config.setUsesURLCache(false);
    return startTask(request, std::move(handler), false, config, /*download=*/true);
}

std::optional<std::string> NEBNetworkURLSession::startTask(
    const net::URLRequest& request, CompletionHandler handler, bool bodyFromFile,
    const net::URLSessionConfiguration& config, bool download) {
    std::shared_ptr<net::URLSession> session;
    std::shared_ptr<net::URLSessionTask> task;
    try {
        session =
            net::URLSession::sessionWithConfiguration(config, shared_from_this(), mainQueue());
        if (download) {
            task = session->downloadTask(request);
        } else if (bodyFromFile) {
            task = session->uploadTask(request, ns::URL::fileURLWithPath(uploadingFilePath()));
        } else {
            task = session->uploadTask(request, request.HTTPBody().value_or(ns::Data()));
        }
    } catch (const ns::Exception&) {
        task.reset();
    }
    if (!session || !task) {
        callCompletionHandler(
            std::move(handler), nullptr, std::nullopt,
            networkError(kNEBErrorCodeNetworkSessionTaskCreation, "Cannot create network session"));
        return std::nullopt;
    }
    registerLiveSession();
    {
        dispatch::Lock lock(mutex_);
        request_ = request;
        completionHandler_ = std::move(handler);
        session_ = session;
    }
    task->resume();
    // The session lets its delegate (this object) go once the task is done.
    session->finishTasksAndInvalidate();
    return sessionID();
}

void NEBNetworkURLSession::registerLiveSession() {
    auto& live = liveSessions();
    dispatch::Lock lock(live.mutex);
    std::erase_if(live.byID, [](const auto& entry) { return entry.second.expired(); });
    live.byID[sessionID()] = weak_from_this();
}

bool NEBNetworkURLSession::writeBodyToTemporaryFile(const net::URLRequest& request) {
    auto written =
        ns::writeFileAtomically(uploadingFilePath(), request.HTTPBody().value_or(ns::Data()), 0600);
    if (!written.ok()) {
        log(NEBNetworkLogLevel::Error, "Failed to write request data to file",
            {written.error().description()});
        return false;
    }
    return true;
}

bool NEBNetworkURLSession::ensureTemporaryDirectoryExists() {
    auto& files = ns::FileManager::defaultManager();
    auto directory = networkDirectoryPath();
    bool isDirectory = false;
    if (files.fileExists(directory, &isDirectory) && isDirectory) return true;
    auto created = files.createDirectory(directory, true);
    if (!created.ok()) {
        log(NEBNetworkLogLevel::Error, "Cannot create temporary directory. Error",
            {created.error().description()});
        return false;
    }
    excludeFromBackup(directory);
    return true;
}

void NEBNetworkURLSession::excludeFromBackup(const std::string& path) {
    if (!ns::FileManager::defaultManager().setExcludedFromBackup(path, true).ok()) {
        log(NEBNetworkLogLevel::Error, "Cannot exclude temporary folder from backup");
    }
}

void NEBNetworkURLSession::maybeRemoveTempFilesAtPath(const std::string& directory,
                                                      double expiringTime) {
    if (directory.empty()) return;
    auto& files = ns::FileManager::defaultManager();
    auto names = files.contentsOfDirectory(directory);
    if (!names.ok()) {
        if (!isNoSuchFile(names.error())) {
            log(NEBNetworkLogLevel::Debug,
                "Cannot get files from the temporary network folder. Error",
                {names.error().description()});
        }
        return;
    }
    // Bodies that an upload still needs: those of live sessions, and those of background
    // uploads that the next launch takes up.
    std::set<std::string> needed;
    {
        auto& live = liveSessions();
        dispatch::Lock lock(live.mutex);
        for (const auto& [id, weak] : live.byID) {
            if (auto session = weak.lock()) needed.insert(session->uploadingFilePath());
        }
    }
    for (const auto& job : net::BackgroundJobStore::load()) needed.insert(job.bodyFile());

    const double now = dispatch::Clock::current().wallTime();
    for (const auto& name : *names) {
        auto path = directory + "/" + name;
        if (needed.contains(path)) continue;
        auto attributes = files.attributesOfItem(path);
        if (!attributes.ok()) continue;
        // A body file is written once, so its modification time is its creation time.
        if (std::fabs(now - attributes->modificationDate.timeIntervalSince1970()) > expiringTime) {
            removeTempItemAtPath(path);
        }
    }
}

void NEBNetworkURLSession::removeTempItemAtPath(const std::string& path) {
    if (path.empty()) return;
    auto removed = ns::FileManager::defaultManager().removeItem(path);
    if (!removed.ok() && !isNoSuchFile(removed.error())) {
        log(NEBNetworkLogLevel::Error, "Failed to remove temporary uploading data file. Error",
            {removed.error().localizedDescription()});
    }
}

void NEBNetworkURLSession::willPerformHTTPRedirection(
    net::URLSession&, net::URLSessionTask& task, std::shared_ptr<const net::URLResponse> response,
    net::URLRequest newRequest, const RedirectionHandler& completionHandler) {
    NEBRequestSession::answerRedirect(limits_, task, response, std::move(newRequest),
                                      completionHandler);
}

void NEBNetworkURLSession::didReceiveChallenge(net::URLSession&, net::URLSessionTask& task,
                                               const net::URLAuthenticationChallenge& challenge,
                                               const ChallengeHandler& completionHandler) {
    const auto& space = challenge.protectionSpace();
    if (space.authenticationMethod() != net::kURLAuthenticationMethodServerTrust) {
        completionHandler(net::URLSessionAuthChallengeDisposition::PerformDefaultHandling, nullptr);
        return;
    }
    ns::Value host = NEBNetworkLoggableURL(task.currentRequest().url().absoluteString());
    auto trust = space.serverTrust();
    if (!trust) {
        log(NEBNetworkLogLevel::Debug, "Received empty server trust for host. Host", {host});
        completionHandler(net::URLSessionAuthChallengeDisposition::PerformDefaultHandling, nullptr);
        return;
    }
    auto credential = net::URLCredential::credentialForTrust(trust);
    if (!credential) {
        log(NEBNetworkLogLevel::Warning, "Unable to verify server identity. Host", {host});
        completionHandler(net::URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge,
                          nullptr);
        return;
    }
    log(NEBNetworkLogLevel::Debug, "Received SSL challenge for host. Host", {host});
    auto self = shared_from_this();
    dispatch::Queue::global().async([self, trust, credential, completionHandler, host] {
        bool trusted = false;
        {
            dispatch::Lock lock(trustEvaluationLock());
            auto result = trust->evaluate();
            if (!result.ok()) {
                self->log(NEBNetworkLogLevel::Error, "Cannot evaluate server trust. Error, host",
                          {result.error().code(), host});
            } else {
                trusted = *result == net::TrustResultType::Proceed ||
                          *result == net::TrustResultType::Unspecified;
            }
        }
        if (trusted) {
            completionHandler(net::URLSessionAuthChallengeDisposition::UseCredential, credential);
        } else {
            self->log(NEBNetworkLogLevel::Debug,
                      "Cancelling authentication challenge for host. Host", {host});
            completionHandler(
                net::URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge, nullptr);
        }
    });
}

void NEBNetworkURLSession::didFinishDownloadingToURL(net::URLSession&, net::URLSessionTask&,
                                                     const ns::URL& location) {
    if (location.path().empty()) {
        log(NEBNetworkLogLevel::Error, "Unable to read downloaded data from empty temp path");
        return;
    }
    auto data = ns::readFile(location.path());
    if (!data.ok()) {
        log(NEBNetworkLogLevel::Error, "Cannot read the content of downloaded data",
            {data.error().description()});
        return;
    }
    dispatch::Lock lock(mutex_);
    downloadedData_ = std::move(*data);
}

void NEBNetworkURLSession::didCompleteWithError(net::URLSession&, net::URLSessionTask& task,
                                                const std::optional<ns::Error>& error) {
    std::optional<ns::Data> data;
    {
        dispatch::Lock lock(mutex_);
        data = std::move(downloadedData_);
        downloadedData_.reset();
    }
    auto response = httpResponse(task.response());
    std::optional<ns::Error> reported;
    if (task.response()) {
        // Only an answer that came in whole counts: one cut off (at the size limit, or by a
        // connection that ended before the announced length) is the error that cut it.
        reported = error;
    } else if (!error) {
        reported = networkError(kNEBErrorCodeNetworkEmptyResponse,
                                "Network Error: Empty network response");
    } else {
        reported = error;
    }
    CompletionHandler handler;
    bool restored = false;
    {
        // One step with adopt(): an outcome is either handed over or kept for it.
        dispatch::Lock lock(mutex_);
        handler = std::move(completionHandler_);
        completionHandler_ = nullptr;
        restored = restored_;
        if (restored && !handler) unclaimed_ = Outcome{response, data, reported};
    }
    if (restored && handler) forgetRestored();
    callCompletionHandler(std::move(handler), response, std::move(data), std::move(reported));
    removeTempItemAtPath(uploadingFilePath());
    maybeRemoveTempFilesAtPath(networkDirectoryPath(), kNEBNetworkTempFolderExpireTime);
}

void NEBNetworkURLSession::callCompletionHandler(
    CompletionHandler handler, std::shared_ptr<const net::HTTPURLResponse> response,
    std::optional<ns::Data> data, std::optional<ns::Error> error) {
    if (error) {
        log(NEBNetworkLogLevel::Error, "Encounter network error. Code, error",
            {error->code(), NEBNetworkLoggableError(*error)});
    }
    deliver(std::move(handler), Outcome{std::move(response), std::move(data), std::move(error)});
}

void NEBNetworkURLSession::deliver(CompletionHandler handler, Outcome outcome) const {
    if (!handler) return;
    mainQueue()->async(
        [handler = std::move(handler), outcome = std::move(outcome), sessionID = sessionID()] {
            handler(outcome.response, outcome.data, sessionID, outcome.error);
        });
}

void NEBNetworkURLSession::handleEventsForBackgroundURLSessionID(const std::string& sessionID,
                                                                 SystemCompletionHandler handler) {
    if (!sessionID.starts_with(kNEBNetworkBackgroundSessionConfigIDPrefix)) return;
    addSystemCompletionHandler(std::move(handler), sessionID);
    fetcherWithSessionIdentifier(sessionID);
}

std::shared_ptr<NEBNetworkURLSession> NEBNetworkURLSession::fetcherWithSessionIdentifier(
    const std::string& sessionID) {
    std::shared_ptr<NEBNetworkURLSession> fetcher;
    {
        // Looked up and made in one step: two objects restoring one session would leave one
        // of them without its upload.
        auto& live = liveSessions();
        dispatch::Lock lock(live.mutex);
        if (auto found = live.byID.find(sessionID); found != live.byID.end()) {
            if (auto running = found->second.lock()) return running;
        }
        std::erase_if(live.byID, [](const auto& entry) { return entry.second.expired(); });
        fetcher = create({});
        fetcher->setSessionID(sessionID);
        {
            dispatch::Lock own(fetcher->mutex_);
            fetcher->restored_ = true;
        }
        live.byID[sessionID] = fetcher;
        live.restored[sessionID] = fetcher;
    }
    fetcher->restoreBackgroundSession();
    return fetcher;
}

std::shared_ptr<NEBNetworkURLSession> NEBNetworkURLSession::restoredUpload(
    const std::string& sessionID) {
    {
        auto& live = liveSessions();
        dispatch::Lock lock(live.mutex);
        if (auto found = live.restored.find(sessionID); found != live.restored.end()) {
            return found->second;
        }
    }
    const auto jobs = net::BackgroundJobStore::load();
    const bool waiting = std::any_of(jobs.begin(), jobs.end(), [&](const auto& job) {
        return job.sessionIdentifier() == sessionID &&
               !net::BackgroundJobStore::isClaimed(job.identifier());
    });
    if (!waiting) return nullptr;
    auto fetcher = fetcherWithSessionIdentifier(sessionID);
    return fetcher->isRestored() ? fetcher : nullptr;
}

void NEBNetworkURLSession::adopt(CompletionHandler handler) {
    std::optional<Outcome> ended;
    {
        dispatch::Lock lock(mutex_);
        if (unclaimed_) {
            ended = std::exchange(unclaimed_, std::nullopt);
        } else {
            completionHandler_ = std::move(handler);
        }
    }
    if (!ended) return;
    forgetRestored();
    deliver(std::move(handler), std::move(*ended));
}

bool NEBNetworkURLSession::isRestored() const {
    dispatch::Lock lock(mutex_);
    return restored_;
}

void NEBNetworkURLSession::forgetRestored() const {
    std::shared_ptr<NEBNetworkURLSession> released;  // let go of once the lock is
    auto& live = liveSessions();
    dispatch::Lock lock(live.mutex);
    if (auto found = live.restored.find(sessionID()); found != live.restored.end()) {
        released = std::move(found->second);
        live.restored.erase(found);
    }
}

void NEBNetworkURLSession::restoreBackgroundSession() {
    bool pending = false;
    for (const auto& job : net::BackgroundJobStore::load()) {
        if (job.sessionIdentifier() == sessionID() &&
            !net::BackgroundJobStore::isClaimed(job.identifier())) {
            pending = true;
        }
    }
    if (!pending) {
        // Nothing is left to take up: the events are over already.
        callSystemCompletionHandler(sessionID());
        return;
    }
    // Making the session takes its uploads up; it holds this object while they run.
    auto session = net::URLSession::sessionWithConfiguration(
        net::URLSessionConfiguration::backgroundSessionConfiguration(sessionID()),
        shared_from_this(), mainQueue());
    {
        dispatch::Lock lock(mutex_);
        session_ = session;
    }
    session->finishTasksAndInvalidate();
}

void NEBNetworkURLSession::didFinishEventsForBackgroundURLSession(net::URLSession& session) {
    auto identifier = session.configuration().identifier().value_or("");
    log(NEBNetworkLogLevel::Debug, "Background session finished", {identifier});
    callSystemCompletionHandler(identifier);
}

NEBMutableDictionary<NEBNetworkURLSession::SystemCompletionHandler>&
NEBNetworkURLSession::sessionIDToSystemCompletionHandlerDictionary() {
    static auto* handlers = new NEBMutableDictionary<SystemCompletionHandler>;
    return *handlers;
}

void NEBNetworkURLSession::addSystemCompletionHandler(SystemCompletionHandler handler,
                                                      const std::string& sessionID) {
    if (!handler) {
        NEBNetworkWriteConsoleLog(NEBNetworkLogLevel::Error,
                                  "Cannot store nil system completion handler in network", {},
                                  false);
        return;
    }
    if (sessionID.empty()) {
        NEBNetworkWriteConsoleLog(
            NEBNetworkLogLevel::Error,
            "Cannot store system completion handler with empty network session identifier", {},
            false);
        return;
    }
    auto& handlers = sessionIDToSystemCompletionHandlerDictionary();
    if (handlers.objectForKey(sessionID)) {
        NEBNetworkWriteConsoleLog(NEBNetworkLogLevel::Warning,
                                  "Got multiple system handlers for a single session ID", {},
                                  false);
    }
    handlers.setObject(std::move(handler), sessionID);
}

void NEBNetworkURLSession::callSystemCompletionHandler(const std::string& sessionID) {
    auto& handlers = sessionIDToSystemCompletionHandlerDictionary();
    auto handler = handlers.objectForKey(sessionID);
    if (!handler) return;
    handlers.removeObjectForKey(sessionID);
    mainQueue()->async(std::move(handler));
}

void NEBNetworkURLSession::log(NEBNetworkLogLevel level, std::string_view message,
                               const std::vector<ns::Value>& contexts) const {
    if (auto logger = loggerDelegate_.lock()) {
        logger->nebNetwork_logWithLevel(level, message, contexts);
    } else {
        NEBNetworkWriteConsoleLog(level, message, contexts, false);
    }
}
