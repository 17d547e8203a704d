#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/ns/Data.h"
#include "platform/ns/Error.h"
#include "platform/ns/URL.h"
#include "sdk/core/NEBMutableDictionary.h"
#include "sdk/core/NEBNetworkLoggerDelegate.h"
#include "sdk/core/NEBNetworkReachabilityDelegate.h"
#include "sdk/core/NEBNetworkURLSession.h"
#include "sdk/core/NEBReachabilityChecker.h"

// The SDK's HTTP facade: a POST whose body it gzips, a GET with the caller's headers, a
// time-out, an optional background session that survives the application's suspension, the
// reachability of one watched host, and pluggable logging. Each request runs in its own
// NEBNetworkURLSession; the caller gets a session ID back and exactly one completion, on the
// queue it chose (the main queue when none).
namespace ui {
class Application;
}  // namespace ui

class NEBNetwork : public NEBReachabilityDelegate,
                   public NEBNetworkLoggerDelegate,
                   public std::enable_shared_from_this<NEBNetwork> {
public:
    using CompletionHandler =
        std::function<void(std::shared_ptr<const net::HTTPURLResponse> response,
                           std::optional<ns::Data> data, std::optional<ns::Error> error)>;
    using SystemCompletionHandler = NEBNetworkURLSession::SystemCompletionHandler;

    // Watches `reachabilityHost` (the measurement upload host unless named); its requests take
    // `limits` (the services' NEBRequestPolicies::network). Null when the watch cannot start.
    // The watch lives on the main thread: made elsewhere, the client starts it there and
    // stays disconnected when it cannot; dropped elsewhere, it stops it there.
    static std::shared_ptr<NEBNetwork> create(
        const std::string& reachabilityHost = {},
        const NEBRequestLimits& limits = NEBRequestPolicies().network);
    ~NEBNetwork() override;

    // An absent or empty URL delivers error 1; a URL that no HTTP request can be made for,
    // error 4. Both asynchronously, and the answer is nothing.
    std::optional<std::string> postURL(const std::optional<ns::URL>& url, const ns::Data& payload,
                                       std::shared_ptr<dispatch::Queue> queue,
                                       bool usingBackgroundSession, CompletionHandler handler);
    std::optional<std::string> getURL(const std::optional<ns::URL>& url,
                                      const net::HTTPHeaderFields& headers,
                                      std::shared_ptr<dispatch::Queue> queue,
                                      bool usingBackgroundSession, CompletionHandler handler);

    // A background upload that an earlier run of the application started with postURL and
    // did not see to its end (the host takes such uploads up at launch): its completion, the
    // answer that run never heard, comes to `handler` on `queue` (the main queue when none),
    // and it counts as in progress until then. False when nothing of it is left to run or to
    // report.
    bool takeUpBackgroundUpload(const std::string& sessionID,
                                std::shared_ptr<dispatch::Queue> queue, CompletionHandler handler);

    // True from the return of a request until its completion runs on the caller's queue.
    bool hasUploadInProgress() const { return requests_.count() > 0; }
    bool isNetworkConnected() const { return networkConnected_.load(); }
    double timeoutInterval() const { return timeoutInterval_.load(); }
    void setTimeoutInterval(double seconds) { timeoutInterval_.store(seconds); }
    bool isDebugModeEnabled() const { return debugModeEnabled_.load(); }
    void setIsDebugModeEnabled(bool enabled) { debugModeEnabled_.store(enabled); }
    std::shared_ptr<NEBNetworkReachabilityDelegate> reachabilityDelegate() const;
    void setReachabilityDelegate(std::weak_ptr<NEBNetworkReachabilityDelegate> delegate);
    std::shared_ptr<NEBNetworkLoggerDelegate> loggerDelegate() const;
    // Null is refused with a console line; the old delegate stays.
    void setLoggerDelegate(const std::shared_ptr<NEBNetworkLoggerDelegate>& delegate);

    // The application was woken for a background session's events (see NEBNetworkURLSession).
    static void handleEventsForBackgroundURLSessionID(const std::string& sessionID,
                                                      SystemCompletionHandler handler);
    // Hooks the application's background-session events, so that the client's own sessions
    // are taken up whenever the application hears of them (the host tells it of those an
    // earlier run left at each launch); other sessions pass on. Once per application.
    static void installBackgroundEventsHook(ui::Application& application);

    // Reports a request that could not be started: error `code`, asynchronously on `queue`.
    void handleErrorWithCode(int64_t code, std::shared_ptr<dispatch::Queue> queue,
                             CompletionHandler handler);

    // NEBReachabilityDelegate
    void reachability(NEBReachabilityChecker& checker, NEBReachabilityStatus status) override;
    // NEBNetworkLoggerDelegate
    void nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message,
                                 const std::vector<ns::Value>& contexts) override;
    void nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message,
                                 const ns::Value& context) override;
    void nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message) override;

    NEBNetwork() = default;

private:
    std::optional<net::URLRequest> makeRequest(const std::optional<ns::URL>& url,
                                               const std::shared_ptr<dispatch::Queue>& queue,
                                               const CompletionHandler& handler);
    // The completion a session object calls: on `queue`, the request no longer in progress,
    // then the caller's handler.
    NEBNetworkURLSession::CompletionHandler completionOnQueue(
        std::shared_ptr<dispatch::Queue> queue, CompletionHandler handler);
    std::optional<std::string> start(const net::URLRequest& request, bool post,
                                     bool usingBackgroundSession,
                                     std::shared_ptr<dispatch::Queue> queue,
                                     CompletionHandler handler);

    NEBRequestLimits limits_ = NEBRequestPolicies().network;
    // Shared with the main thread's start and stop of the watch.
    std::shared_ptr<NEBReachabilityChecker> reachability_;
    NEBMutableDictionary<std::shared_ptr<NEBNetworkURLSession>> requests_;
    std::atomic<bool> networkConnected_{false};
    std::atomic<bool> debugModeEnabled_{false};
    std::atomic<double> timeoutInterval_{kNEBNetworkTimeOutInterval};
    mutable dispatch::Mutex mutex_;
    std::weak_ptr<NEBNetworkReachabilityDelegate> reachabilityDelegate_ GUARDED_BY(mutex_);
    std::weak_ptr<NEBNetworkLoggerDelegate> loggerDelegate_ GUARDED_BY(mutex_);
};
