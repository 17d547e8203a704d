#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/URLSessionDelegate.h"
#include "platform/net/URLSessionTask.h"

namespace nettest {

// Records what a session tells its delegate (on the main queue in these tests) and answers
// redirections and challenges as the test sets it up.
class RecordingSessionDelegate : public net::URLSessionDelegate {
public:
    bool followRedirects = false;
    net::URLSessionAuthChallengeDisposition challengeAnswer =
        net::URLSessionAuthChallengeDisposition::PerformDefaultHandling;

    std::vector<std::string> events;
    std::vector<net::URLRequest> proposedRedirects;
    std::shared_ptr<const net::URLResponse> response;
    std::shared_ptr<const net::ServerTrust> trust;
    std::string challengeMethod;
    int challengePort = 0;
    std::string received;
    std::string downloaded;
    std::optional<ns::Error> error;
    std::atomic<int> completions{0};
    int finishedBackgroundEvents = 0;
    bool invalidated = false;

    void willPerformHTTPRedirection(net::URLSession&, net::URLSessionTask&,
                                    std::shared_ptr<const net::URLResponse> redirect,
                                    net::URLRequest newRequest,
                                    const RedirectionHandler& handler) override;
    void didReceiveChallenge(net::URLSession&, net::URLSessionTask&,
                             const net::URLAuthenticationChallenge& challenge,
                             const ChallengeHandler& handler) override;
    void didReceiveResponse(net::URLSession&, net::URLSessionTask&,
                            std::shared_ptr<const net::URLResponse> r) override;
    void didReceiveData(net::URLSession&, net::URLSessionTask&, const ns::Data& data) override;
    void didFinishDownloadingToURL(net::URLSession&, net::URLSessionTask&,
                                   const ns::URL& location) override;
    void didCompleteWithError(net::URLSession&, net::URLSessionTask&,
                              const std::optional<ns::Error>& e) override;
    void didFinishEventsForBackgroundURLSession(net::URLSession&) override;
    void didBecomeInvalidWithError(net::URLSession&, const std::optional<ns::Error>&) override;
};

}  // namespace nettest
