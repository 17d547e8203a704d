#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/net/Load.h"
#include "platform/net/LoadObserver.h"
#include "platform/net/URLAuthenticationChallenge.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"
#include "platform/ns/Data.h"
#include "platform/ns/Error.h"
#include "platform/ns/URL.h"

namespace net {

class URLSession;

enum class URLSessionTaskState : int { Running = 0, Suspended = 1, Canceling = 2, Completed = 3 };

// One request of a session: a data task (the body in memory), an upload task (a body from
// bytes or a file, the answer in memory) or a download task (the answer in a temporary file).
// Made suspended by its session; resume() starts it. It completes exactly once: with the
// answer, an error in kURLErrorDomain, or kURLErrorCancelled after cancel(). Every operation
// may be called from any thread.
//
// The LoadObserver operations are the loads' side of the task; callers have no use for them.
class URLSessionTask : public LoadObserver, public std::enable_shared_from_this<URLSessionTask> {
public:
    enum class Kind { Data, Upload, Download };
    using DataCompletion = std::function<void(
        std::optional<ns::Data>, std::shared_ptr<const URLResponse>, std::optional<ns::Error>)>;
    using DownloadCompletion = std::function<void(
        std::optional<ns::URL>, std::shared_ptr<const URLResponse>, std::optional<ns::Error>)>;

    // Followed redirections per task before it fails with kURLErrorHTTPTooManyRedirects.
    static constexpr int kMaximumRedirections = 16;

    Kind kind() const { return kind_; }
    // Unique within the session, from 1.
    uint64_t taskIdentifier() const { return identifier_; }
    // The request being loaded: the original one, or the last redirection followed.
    URLRequest currentRequest() const;
    std::shared_ptr<const URLResponse> response() const;
    URLSessionTaskState state() const;
    std::optional<ns::Error> error() const;

    void resume();
    void cancel();

    // LoadObserver
    void loadDidConnectSecurely(uint64_t load, std::shared_ptr<const ServerTrust> trust,
                                int port) override;
    void loadDidReceiveResponse(uint64_t load,
                                std::shared_ptr<const URLResponse> response) override;
    bool loadDidReceiveData(uint64_t load, const uint8_t* bytes, size_t length) override;
    void loadWasRedirected(uint64_t load, URLRequest request,
                           std::shared_ptr<const URLResponse> response, ns::Data body) override;
    void loadDidFinish(uint64_t load, std::optional<ns::Error> error) override;

    ~URLSessionTask() override;

private:
    friend class URLSession;
    struct Body {
        std::optional<ns::Data> data;
        std::optional<std::string> file;
    };
    using Event = std::function<void()>;

    URLSessionTask(const std::shared_ptr<URLSession>& session, Kind kind, uint64_t identifier,
                   URLRequest request, Body uploadBody);

    void startLoadLocked(const URLRequest& request) REQUIRES(mutex_);
    std::shared_ptr<Load> makeLoad(const URLRequest& request, uint64_t load) REQUIRES(mutex_);
    URLRequest preparedRequest(const URLRequest& request) const REQUIRES(mutex_);
    bool deliversThroughDelegate() const { return !dataCompletion_ && !downloadCompletion_; }
    std::shared_ptr<URLSession> sessionLocked() const REQUIRES(mutex_);
    bool isCurrentLocked(uint64_t load) const REQUIRES(mutex_);
    void persistBackgroundJobLocked(const URLSession& session) REQUIRES(mutex_);
    void stopLoadLocked() REQUIRES(mutex_);
    void failLocked(int64_t code, const std::string& debugDescription = {}) REQUIRES(mutex_);
    void finishLocked(std::optional<ns::Error> error) REQUIRES(mutex_);
    // A failure that a background upload waits out: it starts again when the network is back.
    // A request that may not go twice waits out only a failure before anything of it left.
    bool waitsForConnectivityLocked(const std::optional<ns::Error>& error) const REQUIRES(mutex_);
    bool appendBodyLocked(const uint8_t* bytes, size_t length) REQUIRES(mutex_);
    bool openDownloadFileLocked() REQUIRES(mutex_);
    void closeDownloadFileLocked() REQUIRES(mutex_);
    void emitLocked(Event event) REQUIRES(mutex_);
    void answerChallenge(uint64_t load, URLSessionAuthChallengeDisposition disposition);
    void answerRedirection(uint64_t load, std::optional<URLRequest> request,
                           std::shared_ptr<const URLResponse> response, ns::Data body);
    Event completionEvent(std::optional<ns::Data> data, std::optional<std::string> downloadPath,
                          std::shared_ptr<const URLResponse> response,
                          std::optional<ns::Error> error) REQUIRES(mutex_);

    const Kind kind_;
    const uint64_t identifier_;
    const URLRequest original_;
    const Body uploadBody_;
    const std::weak_ptr<URLSession> session_;
    DataCompletion dataCompletion_;
    DownloadCompletion downloadCompletion_;
    // Set by the session for tasks of background sessions that are kept on disk.
    std::string backgroundJobId_;

    mutable dispatch::Mutex mutex_;
    // Held while the task runs, so that a session nobody else holds finishes its work.
    std::shared_ptr<URLSession> runningSession_ GUARDED_BY(mutex_);
    URLRequest current_ GUARDED_BY(mutex_);
    URLSessionTaskState state_ GUARDED_BY(mutex_) = URLSessionTaskState::Suspended;
    std::optional<ns::Error> error_ GUARDED_BY(mutex_);
    std::shared_ptr<const URLResponse> response_ GUARDED_BY(mutex_);
    uint64_t loadNumber_ GUARDED_BY(mutex_) = 0;
    std::shared_ptr<Load> load_ GUARDED_BY(mutex_);
    int redirections_ GUARDED_BY(mutex_) = 0;
    uint64_t received_ GUARDED_BY(mutex_) = 0;
    ns::Data body_ GUARDED_BY(mutex_);
    std::string downloadPath_ GUARDED_BY(mutex_);
    int downloadFd_ GUARDED_BY(mutex_) = -1;
    // While a challenge waits for its answer, later events wait here in order, and so does
    // the end of the load: the delegate may still cancel.
    bool holdingEvents_ GUARDED_BY(mutex_) = false;
    uint64_t challengedLoad_ GUARDED_BY(mutex_) = 0;
    std::vector<Event> heldEvents_ GUARDED_BY(mutex_);
    std::optional<std::optional<ns::Error>> deferredFinish_ GUARDED_BY(mutex_);
};

}  // namespace net
