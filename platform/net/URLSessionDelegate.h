#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/net/URLAuthenticationChallenge.h"
#include "platform/net/URLCredential.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"
#include "platform/ns/Data.h"
#include "platform/ns/Error.h"
#include "platform/ns/URL.h"

namespace net {

class URLSession;
class URLSessionTask;

// What a session tells its delegate, on the session's delegate queue, one call at a time and
// in the order things happened to each task. Every operation is optional: the defaults are
// what the platform does for a delegate that lacks it.
//
// Tasks made with a completion handler report their response, data, download and completion
// through that handler instead of didReceiveResponse/didReceiveData/didFinishDownloadingToURL/
// didCompleteWithError; challenges and redirections still come here.
class URLSessionDelegate {
public:
    using RedirectionHandler = std::function<void(std::optional<URLRequest>)>;
    using ChallengeHandler = std::function<void(URLSessionAuthChallengeDisposition,
                                                std::shared_ptr<const URLCredential>)>;

    virtual ~URLSessionDelegate() = default;

    // The server answered with a redirection. Answer the request to follow (the proposed one,
    // or another) or nullopt to stop, which completes the task with the redirection response
    // and its body. May be answered later, from any thread. Default: follow.
    virtual void willPerformHTTPRedirection(URLSession& session, URLSessionTask& task,
                                            std::shared_ptr<const URLResponse> response,
                                            URLRequest newRequest,
                                            const RedirectionHandler& completionHandler);

    // A secure connection has been made and its certificate chain verified; the task goes on
    // once the handler is called (from any thread). Cancelling the challenge cancels the task.
    // Default: default handling, which goes on.
    virtual void didReceiveChallenge(URLSession& session, URLSessionTask& task,
                                     const URLAuthenticationChallenge& challenge,
                                     const ChallengeHandler& completionHandler);

    virtual void didReceiveResponse(URLSession& session, URLSessionTask& dataTask,
                                    std::shared_ptr<const URLResponse> response);
    virtual void didReceiveData(URLSession& session, URLSessionTask& dataTask,
                                const ns::Data& data);
    // The file at `location` is removed when this returns: move or read it here.
    virtual void didFinishDownloadingToURL(URLSession& session, URLSessionTask& downloadTask,
                                           const ns::URL& location);
    virtual void didCompleteWithError(URLSession& session, URLSessionTask& task,
                                      const std::optional<ns::Error>& error);

    // Every task taken up again from an earlier run of a background session has completed.
    virtual void didFinishEventsForBackgroundURLSession(URLSession& session);
    // The session has been invalidated and lets its delegate go.
    virtual void didBecomeInvalidWithError(URLSession& session,
                                           const std::optional<ns::Error>& error);
};

}  // namespace net
