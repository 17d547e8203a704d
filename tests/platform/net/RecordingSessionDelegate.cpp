#include "tests/platform/net/RecordingSessionDelegate.h"

#include "platform/net/HTTPURLResponse.h"
#include "platform/ns/AtomicFile.h"

namespace nettest {

void RecordingSessionDelegate::willPerformHTTPRedirection(
    net::URLSession&, net::URLSessionTask&, std::shared_ptr<const net::URLResponse> redirect,
    net::URLRequest newRequest, const RedirectionHandler& handler) {
    events.push_back("redirect " + std::to_string(redirect->http()->statusCode()));
    proposedRedirects.push_back(newRequest);
    handler(followRedirects ? std::optional(newRequest) : std::nullopt);
}

void RecordingSessionDelegate::didReceiveChallenge(net::URLSession&, net::URLSessionTask&,
                                                   const net::URLAuthenticationChallenge& challenge,
                                                   const ChallengeHandler& handler) {
    events.push_back("challenge");
    challengeMethod = challenge.protectionSpace().authenticationMethod();
    challengePort = challenge.protectionSpace().port();
    trust = challenge.protectionSpace().serverTrust();
    handler(challengeAnswer, net::URLCredential::credentialForTrust(trust));
}

void RecordingSessionDelegate::didReceiveResponse(net::URLSession&, net::URLSessionTask&,
                                                  std::shared_ptr<const net::URLResponse> r) {
    events.push_back("response " + std::to_string(r->http() ? r->http()->statusCode() : 0));
    response = std::move(r);
}

void RecordingSessionDelegate::didReceiveData(net::URLSession&, net::URLSessionTask&,
                                              const ns::Data& data) {
    if (events.empty() || events.back() != "data") events.push_back("data");
    received += data.chars();
}

void RecordingSessionDelegate::didFinishDownloadingToURL(net::URLSession&, net::URLSessionTask&,
                                                         const ns::URL& location) {
    events.push_back("downloaded");
    if (auto bytes = ns::readFile(location.path())) downloaded = std::string(bytes->chars());
}

void RecordingSessionDelegate::didCompleteWithError(net::URLSession&, net::URLSessionTask& task,
                                                    const std::optional<ns::Error>& e) {
    events.push_back(e ? "complete " + std::to_string(e->code()) : "complete");
    error = e;
    if (!response) response = task.response();
    completions++;
}

void RecordingSessionDelegate::didFinishEventsForBackgroundURLSession(net::URLSession&) {
    events.push_back("background events finished");
    finishedBackgroundEvents++;
}

void RecordingSessionDelegate::didBecomeInvalidWithError(net::URLSession&,
                                                         const std::optional<ns::Error>&) {
    events.push_back("invalid");
    invalidated = true;
}

}  // namespace nettest
