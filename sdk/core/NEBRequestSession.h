#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>

#include "platform/dispatch/Mutex.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"
#include "platform/net/URLSessionConfiguration.h"
#include "platform/net/URLSessionTask.h"
#include "platform/ns/Data.h"
#include "platform/ns/Result.h"
#include "platform/ns/URL.h"

namespace net {
class URLSession;
class URLSessionDelegate;
}  // namespace net

// What one kind of SDK request may take: seconds for the whole exchange, the largest answer
// read (a longer one fails as a transport error), and the redirect statuses never followed.
struct NEBRequestLimits {
    double timeout = 60.0;
    uint64_t maximumResponseSize = net::URLSessionConfiguration::kDefaultMaximumResponseSize;
    std::set<int> unfollowedRedirects;
};

// The limits of every kind of request the SDK sends, in one place.
struct NEBRequestPolicies {
    NEBRequestLimits checkin{.maximumResponseSize = 64 * 1024};
    NEBRequestLimits registration{.maximumResponseSize = 16 * 1024};
    NEBRequestLimits topicRegistration{.maximumResponseSize = 64 * 1024};
    // The HTTP client's uploads and downloads (their time-out is the client's own setting): no
    // server can make the client hold more than 16 MiB of an answer in memory.
    NEBRequestLimits network{.maximumResponseSize = uint64_t{16} << 20,
                             .unfollowedRedirects = {300, 301, 302, 307}};
};

// What a server answered; a completion gets it, or the transport's error when none came.
struct NEBReply {
    std::shared_ptr<const net::URLResponse> response;
    ns::Data body;  // empty when the answer had none
};

// The SDK's road to HTTP: every request runs in a URL session made here, with its kind's
// time-out and answer cap, under one redirect rule: a redirect is followed unless it leaves
// https (credentials and tokens never travel in the clear) or its status is one that the kind
// does not follow; a redirect not followed ends the exchange with that answer. Requests are
// sent as the caller built them.
//
// One object keeps one session for its requests, made on first use; cancel() ends it and the
// next request makes a new one. Completions run on the session's own serial queue. Any thread.
class NEBRequestSession {
public:
    using Completion = std::function<void(ns::Result<NEBReply>)>;
    explicit NEBRequestSession(NEBRequestLimits limits);
    // Cancels what is still running.
    ~NEBRequestSession();
    NEBRequestSession(const NEBRequestSession&) = delete;
    NEBRequestSession& operator=(const NEBRequestSession&) = delete;

    void send(net::URLRequest request, Completion completion);
    // The request sent last is still running.
    bool inProgress() const;
    void cancel();
    // One exchange on a session of its own, which goes once the exchange is done.
    static void sendOnce(const NEBRequestLimits& limits, net::URLRequest request,
                         Completion completion);
    // The completion as a data task's, for what answers in place of the network.
    static net::URLSessionTask::DataCompletion dataCompletion(Completion completion);

    // The rule, for sessions whose own delegate answers their redirects (the HTTP client's).
    static bool followsRedirect(const NEBRequestLimits& limits, int status, const ns::URL& from,
                                const ns::URL& to);
    static void answerRedirect(const NEBRequestLimits& limits, const net::URLSessionTask& task,
                               const std::shared_ptr<const net::URLResponse>& response,
                               net::URLRequest proposed,
                               const std::function<void(std::optional<net::URLRequest>)>& answer);
    // `configuration` with the limits' time-outs and answer cap.
    static net::URLSessionConfiguration configured(net::URLSessionConfiguration configuration,
                                                   const NEBRequestLimits& limits);

private:
    static std::shared_ptr<net::URLSession> makeSession(
        const NEBRequestLimits& limits, std::shared_ptr<net::URLSessionDelegate> rule);

    const NEBRequestLimits limits_;
    // Held here: a session holds its delegate only while it has tasks, and a session without
    // one would follow every redirect.
    const std::shared_ptr<net::URLSessionDelegate> rule_;
    mutable dispatch::Mutex mutex_;
    std::shared_ptr<net::URLSession> session_ GUARDED_BY(mutex_);
    std::shared_ptr<net::URLSessionTask> task_ GUARDED_BY(mutex_);
};
