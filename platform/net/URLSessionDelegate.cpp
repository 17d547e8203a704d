#include "platform/net/URLSessionDelegate.h"

namespace net {

void URLSessionDelegate::willPerformHTTPRedirection(URLSession&, URLSessionTask&,
                                                    std::shared_ptr<const URLResponse>,
                                                    URLRequest newRequest,
                                                    const RedirectionHandler& completionHandler) {
    completionHandler(std::move(newRequest));
}

void URLSessionDelegate::didReceiveChallenge(URLSession&, URLSessionTask&,
                                             const URLAuthenticationChallenge&,
                                             const ChallengeHandler& completionHandler) {
    completionHandler(URLSessionAuthChallengeDisposition::PerformDefaultHandling, nullptr);
}

void URLSessionDelegate::didReceiveResponse(URLSession&, URLSessionTask&,
                                            std::shared_ptr<const URLResponse>) {}
void URLSessionDelegate::didReceiveData(URLSession&, URLSessionTask&, const ns::Data&) {}
void URLSessionDelegate::didFinishDownloadingToURL(URLSession&, URLSessionTask&, const ns::URL&) {}
void URLSessionDelegate::didCompleteWithError(URLSession&, URLSessionTask&,
                                              const std::optional<ns::Error>&) {}
void URLSessionDelegate::didFinishEventsForBackgroundURLSession(URLSession&) {}
void URLSessionDelegate::didBecomeInvalidWithError(URLSession&, const std::optional<ns::Error>&) {}

}  // namespace net
