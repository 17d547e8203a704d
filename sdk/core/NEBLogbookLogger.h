#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include "platform/dispatch/Mutex.h"

#include "platform/dispatch/Queue.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/URL.h"
#include "platform/ui/Application.h"
#include "proto/logbook.pb.h"
#include "sdk/core/NEBLogbookAccountData.h"
#include "sdk/core/NEBLogbookLoggerDelegate.h"
#include "sdk/core/NEBLogbookRequest.h"
#include "sdk/core/NEBNetwork.h"
#include "sdk/core/NEBNetworkReachabilityDelegate.h"

inline constexpr const char* kNEBLogbookQueueLabel = "logbook";
inline constexpr const char* kNEBLogbookDirectoryName = "NEBLogbookLogger";
inline constexpr int64_t kNEBLogbookSendDelayMillis = 900000;
inline constexpr int32_t kNEBLogbookUploadRetries = 6;
inline constexpr uint64_t kNEBLogbookMaxRequestNumBytes = 0x100000;
// What one log source may keep queued on disk before its oldest files go.
inline constexpr uint64_t kNEBLogbookMaxQueueNumBytes = 32 * kNEBLogbookMaxRequestNumBytes;
// Queued files larger than this were not written by the uploader and are not read.
inline constexpr uint64_t kNEBLogbookMaxFileNumBytes = 16 * kNEBLogbookMaxRequestNumBytes;

// Queues diagnostic events on disk and uploads them in batches to the diagnostic log endpoint.
// Events are appended, length-prefixed, to one open file per account and log source; a file
// that passes the size limit is closed and becomes one upload. Uploads run one request at a
// time, 15 minutes after the network is known to be up, at once when the application enters
// the background, and on explicit flushes; a file is deleted only after the endpoint answers
// HTTP 200. After six consecutive failed posts nothing more is posted in this process; the
// files wait on disk for the next launch.
//
// Every piece of state lives on the serial queue "logbook"; logEvent() only stamps the event on
// the caller's thread.
class NEBLogbookLogger : public NEBNetworkReachabilityDelegate,
                         public std::enable_shared_from_this<NEBLogbookLogger> {
public:
    using CompletionHandler = std::function<void()>;

    // The process's uploader: events in Caches/NEBLogbookLogger, the HTTP client's own
    // reachability watch.
    static std::shared_ptr<NEBLogbookLogger> sharedInstance();
    // Puts another uploader in the shared place (the composition root and tests).
    static void setSharedInstance(std::shared_ptr<NEBLogbookLogger> logger);

    // A null network posts nothing and arms no timer; events still collect on disk.
    static std::shared_ptr<NEBLogbookLogger> create(std::shared_ptr<NEBNetwork> network,
                                                    std::string logDirectory);
    ~NEBLogbookLogger() override;
    NEBLogbookLogger(const NEBLogbookLogger&) = delete;
    NEBLogbookLogger& operator=(const NEBLogbookLogger&) = delete;

    // Queues one event; returns at once.
    void logEvent(NEB_LOGBOOK::LogEvent event, int32_t logSource, std::string account);
    // Starts a send pass now. The completion runs once a pass ends with nothing left to send
    // (a later one, when this pass stops early).
    void flushWithCompletionHandler(CompletionHandler completion = nullptr);
    void applicationDidEnterBackground() { flushWithCompletionHandler(); }
    // Stops listening for the application entering the background (at termination).
    void stopObservingApplication();
    // NEBNetworkReachabilityDelegate
    void reachabilityDidChange() override;

    // Configuration, any thread.
    std::optional<ns::URL> serverURL() const { return locked(serverURL_); }
    void setServerURL(std::optional<ns::URL> url) { setLocked(serverURL_, std::move(url)); }
    std::string applicationBuild() const { return locked(applicationBuild_); }
    void setApplicationBuild(std::string build) { setLocked(applicationBuild_, std::move(build)); }
    std::optional<std::string> installIdentifier() const { return locked(installIdentifier_); }
    void setInstallIdentifier(std::optional<std::string> id) { setLocked(installIdentifier_, id); }
    std::optional<std::string> clientCookie() const { return locked(clientCookie_); }
    void setClientCookie(std::optional<std::string> cookie) { setLocked(clientCookie_, cookie); }
    std::shared_ptr<NEBLogbookLoggerDelegate> delegate() const { return locked(delegate_).lock(); }
    void setDelegate(std::weak_ptr<NEBLogbookLoggerDelegate> delegate) {
        setLocked(delegate_, std::move(delegate));
    }
    const std::shared_ptr<NEBNetwork>& network() const { return network_; }
    const std::string& logDirectory() const { return logDirectory_; }

    // Queue state, read and set on the queue (tests tune the limits).
    int64_t sendDelayMillis() const { return onQueue(sendDelayMillis_); }
    void setSendDelayMillis(int64_t millis) { setOnQueue(sendDelayMillis_, millis); }
    uint64_t maxRequestNumBytes() const { return onQueue(maxRequestNumBytes_); }
    void setMaxRequestNumBytes(uint64_t bytes) { setOnQueue(maxRequestNumBytes_, bytes); }
    int32_t uploadRetriesRemaining() const { return onQueue(uploadRetriesRemaining_); }
    bool sendScheduled() const { return onQueue(sendScheduled_); }
    ui::BackgroundTaskIdentifier backgroundTaskId() const { return onQueue(backgroundTaskId_); }

    // The request that uploads one queued file: its whole records, the client description and
    // the cookie. Nothing when the file cannot be read or holds no whole record.
    std::optional<NEB_LOGBOOK::LogRequest> logRequestFromPath(const std::string& path,
                                                              int32_t logSource) const;

    NEBLogbookLogger(std::shared_ptr<NEBNetwork> network, std::string logDirectory);

private:
    template <class T>
    T locked(const T& field) const {
        dispatch::Lock lock(configMutex_);
        return field;
    }
    template <class T>
    void setLocked(T& field, T value) {
        dispatch::Lock lock(configMutex_);
        field = std::move(value);
    }
    template <class T>
    T onQueue(const T& field) const {
        return queue_->sync([&field] { return field; });
    }
    template <class T>
    void setOnQueue(T& field, T value) {
        queue_->sync([&field, value] { field = value; });
    }

    // Runs the step on the queue while this object lives.
    void stepOnQueue(void (NEBLogbookLogger::*step)());
    // All of these run on the queue.
    NEBLogbookAccountData& accountDataForAccount(const std::string& account);
    void writeEvent(const NEB_LOGBOOK::LogEvent& event, int32_t logSource,
                    const std::string& account);
    void flushWriters();
    void updatePendingRequests();
    std::optional<NEBLogbookRequest> nextPendingRequest();
    void sendLogs();
    void sendNextPendingRequest();
    void handlePostResult(const NEBLogbookRequest& request,
                          const std::shared_ptr<const net::HTTPURLResponse>& response,
                          const std::optional<ns::Error>& error);
    void scheduleNextSend();
    void chainStopped();
    void queueEmptied();

    const std::shared_ptr<dispatch::Queue> queue_;
    const std::shared_ptr<NEBNetwork> network_;
    const std::string logDirectory_;
    std::atomic<ns::NotificationCenter::ObserverToken> backgroundObserver_{0};

    // Guards the settings below, read and written through locked and setLocked.
    mutable dispatch::Mutex configMutex_;
    std::optional<ns::URL> serverURL_;
    std::string applicationBuild_ = "0";
    std::optional<std::string> installIdentifier_;
    std::optional<std::string> clientCookie_;
    std::weak_ptr<NEBLogbookLoggerDelegate> delegate_;

    // Queue state.
    std::map<std::string, std::unique_ptr<NEBLogbookAccountData>> accounts_;
    int64_t sendDelayMillis_ = kNEBLogbookSendDelayMillis;
    int32_t uploadRetriesRemaining_ = kNEBLogbookUploadRetries;
    bool sendScheduled_ = false;
    std::vector<NEBLogbookRequest> pendingRequests_;
    std::optional<std::string> inFlightPath_;
    std::vector<CompletionHandler> completions_;
    ui::BackgroundTaskIdentifier backgroundTaskId_ = ui::kBackgroundTaskInvalid;
    uint64_t maxRequestNumBytes_ = kNEBLogbookMaxRequestNumBytes;
};
