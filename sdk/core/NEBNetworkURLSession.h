#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLSession.h"
#include "platform/net/URLSessionConfiguration.h"
#include "platform/net/URLSessionDelegate.h"
#include "platform/ns/Data.h"
#include "platform/ns/Error.h"
#include "sdk/core/NEBMutableDictionary.h"
#include "sdk/core/NEBNetworkLoggerDelegate.h"
#include "sdk/core/NEBRequestSession.h"

// One request of the HTTP client, in its own URL session: a POST whose body goes to a
// temporary file when it runs in a background session (so that it survives the application's
// suspension and is taken up again at the next launch), or a GET. It evaluates the server's
// trust, answers redirects by the SDK's rule (NEBRequestSession) with the client's limits, and
// reports completion once, on the main queue.
class NEBNetworkURLSession : public net::URLSessionDelegate,
                             public std::enable_shared_from_this<NEBNetworkURLSession> {
public:
    using CompletionHandler = std::function<void(
        std::shared_ptr<const net::HTTPURLResponse> response, std::optional<ns::Data> data,
        const std::string& sessionID, std::optional<ns::Error> error)>;
    using SystemCompletionHandler = std::function<void()>;

    static std::shared_ptr<NEBNetworkURLSession> create(
        std::weak_ptr<NEBNetworkLoggerDelegate> loggerDelegate,
        NEBRequestLimits limits = NEBRequestPolicies().network);

    // Start the request; the session ID, or nothing after the completion has been given
    // error 2.
    std::optional<std::string> sessionIDFromAsyncPOSTRequest(const net::URLRequest& request,
                                                             CompletionHandler handler);
    std::optional<std::string> sessionIDFromAsyncGETRequest(const net::URLRequest& request,
                                                            CompletionHandler handler);

    // The application was woken (or launched) for the events of a background session: the
    // session of that identifier takes its unfinished uploads up and calls the handler once
    // they are done. Identifiers of other owners are ignored.
    static void handleEventsForBackgroundURLSessionID(const std::string& sessionID,
                                                      SystemCompletionHandler handler);
    // The live session object of the identifier, or a new one that restores its background
    // session.
    static std::shared_ptr<NEBNetworkURLSession> fetcherWithSessionIdentifier(
        const std::string& sessionID);
    // The session object running (or having run) the background upload of that identifier
    // that an earlier run started, whether the application was told of it already or not;
    // null when nothing of it is left to run or to report. Such an object keeps its outcome
    // until adopt() hands it a completion.
    static std::shared_ptr<NEBNetworkURLSession> restoredUpload(const std::string& sessionID);
    // Gives a restored upload the completion that the run which started it lost: called on
    // the main queue once the upload ends, or at once when it has ended already.
    void adopt(CompletionHandler handler);
    // Session ID to the platform's handler for that session's background events.
    static NEBMutableDictionary<SystemCompletionHandler>&
    sessionIDToSystemCompletionHandlerDictionary();

    // Copies under the lock: the ID may be set again while other threads read it.
    std::string sessionID() const;
    void setSessionID(std::string sessionID);
    bool isBackgroundNetworkEnabled() const { return backgroundNetworkEnabled_; }
    void setBackgroundNetworkEnabled(bool enabled) { backgroundNetworkEnabled_ = enabled; }
    std::shared_ptr<NEBNetworkLoggerDelegate> loggerDelegate() const {
        return loggerDelegate_.lock();
    }
    void setLoggerDelegate(std::weak_ptr<NEBNetworkLoggerDelegate> delegate) {
        loggerDelegate_ = std::move(delegate);
    }

    // Application Support/Nebula/Network/NEBNetworkTemporaryDirectory.
    static std::string networkDirectoryPath();
    // The temporary body file of a session.
    static std::string temporaryFilePathWithSessionID(const std::string& sessionID);
    std::string uploadingFilePath() const;
    bool ensureTemporaryDirectoryExists();
    // Removes the directory's files whose time is further than `expiringTime` seconds from
    // now, in either direction, except the bodies of uploads still running in this process
    // and of background uploads waiting for the next launch.
    void maybeRemoveTempFilesAtPath(const std::string& directory, double expiringTime);

    // net::URLSessionDelegate
    void willPerformHTTPRedirection(net::URLSession& session, net::URLSessionTask& task,
                                    std::shared_ptr<const net::URLResponse> response,
                                    net::URLRequest newRequest,
                                    const RedirectionHandler& completionHandler) override;
    void didReceiveChallenge(net::URLSession& session, net::URLSessionTask& task,
                             const net::URLAuthenticationChallenge& challenge,
                             const ChallengeHandler& completionHandler) override;
    void didFinishDownloadingToURL(net::URLSession& session, net::URLSessionTask& downloadTask,
                                   const ns::URL& location) override;
    void didCompleteWithError(net::URLSession& session, net::URLSessionTask& task,
                              const std::optional<ns::Error>& error) override;
    void didFinishEventsForBackgroundURLSession(net::URLSession& session) override;

    NEBNetworkURLSession(std::weak_ptr<NEBNetworkLoggerDelegate> loggerDelegate,
                         NEBRequestLimits limits = NEBRequestPolicies().network);

private:
    std::optional<std::string> startTask(const net::URLRequest& request, CompletionHandler handler,
                                         bool bodyFromFile,
                                         const net::URLSessionConfiguration& config,
                                         bool download = false);
    bool writeBodyToTemporaryFile(const net::URLRequest& request);
    void excludeFromBackup(const std::string& path);
    void removeTempItemAtPath(const std::string& path);
    void restoreBackgroundSession();
    void registerLiveSession();
    // What a request ended with.
    struct Outcome {
        std::shared_ptr<const net::HTTPURLResponse> response;
        std::optional<ns::Data> data;
        std::optional<ns::Error> error;
    };
    void callCompletionHandler(CompletionHandler handler,
                               std::shared_ptr<const net::HTTPURLResponse> response,
                               std::optional<ns::Data> data, std::optional<ns::Error> error);
    void deliver(CompletionHandler handler, Outcome outcome) const;
    bool isRestored() const;
    void forgetRestored() const;
    static void addSystemCompletionHandler(SystemCompletionHandler handler,
                                           const std::string& sessionID);
    static void callSystemCompletionHandler(const std::string& sessionID);
    void log(NEBNetworkLogLevel level, std::string_view message,
             const std::vector<ns::Value>& contexts = {}) const;

    const NEBRequestLimits limits_;
    bool backgroundNetworkEnabled_ = false;
    std::weak_ptr<NEBNetworkLoggerDelegate> loggerDelegate_;
    // What a task in flight hands between the caller and the session's delegate thread, and
    // the names that other sessions' sweeps read.
    mutable dispatch::Mutex mutex_;
    std::string sessionID_ GUARDED_BY(mutex_);
    std::string uploadingFilePath_ GUARDED_BY(mutex_);
    CompletionHandler completionHandler_ GUARDED_BY(mutex_);
    std::optional<net::URLRequest> request_ GUARDED_BY(mutex_);
    std::optional<ns::Data> downloadedData_ GUARDED_BY(mutex_);
    std::shared_ptr<net::URLSession> session_ GUARDED_BY(mutex_);
    // Made to take up an earlier run's upload; its outcome waits for adopt() until then.
    bool restored_ GUARDED_BY(mutex_) = false;
    std::optional<Outcome> unclaimed_ GUARDED_BY(mutex_);
};
