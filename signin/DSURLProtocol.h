#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/net/URLAuthenticationChallenge.h"
#include "platform/net/URLProtocol.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLSession.h"
#include "platform/net/URLSessionDelegate.h"
#include "platform/ns/UUID.h"

class DSTelemetryUIEvent;

// The sign-in library between the loads of its interactive page and the network. While
// registered it takes every https request of the process's URL sessions, reloads it itself
// with the correlation id attached, adds the library's custom headers on redirects, stops at
// the end URL when the service redirects there over plain http, and hands authentication
// challenges to the handlers registered per method. The interactive screen's web view, whose
// loads the engine makes itself, meets the same rules at its navigation policy
// (interceptionOf).
class DSURLProtocol : public net::URLProtocol {
public:
    // Key of the correlation-id tag among a request's protocol properties.
    static constexpr const char* kCorrelationIdKey = "correlationId";
    // Mark of a request this protocol has taken already.
    static constexpr const char* kProtocolMark = "DSURLProtocol";

    // A challenge handler: handleChallenge answers whether it dealt with the challenge (it
    // then calls the completion itself); resetHandler is told when the protocol goes.
    struct Handler {
        std::function<bool(const net::URLAuthenticationChallenge& challenge,
                           const net::URLSessionDelegate::ChallengeHandler& completion,
                           DSURLProtocol& protocol)>
            handleChallenge;
        std::function<void()> resetHandler;
    };

    static void registerHandler(std::shared_ptr<const Handler> handler,
                                const std::optional<std::string>& authMethod);
    static bool registerProtocol(const std::string& endURL,
                                 std::shared_ptr<DSTelemetryUIEvent> telemetryEvent);
    static void unregisterProtocol();
    // The end URL and the telemetry event for the sign-in page's own loads, which its web view
    // decides by interceptionOf, without taking the process's other loads: here the URL
    // loading system is every session's, so a registered protocol would also reload uploads and
    // background transfers of other parts, which it cannot carry. stopIntercepting clears them
    // and resets the handlers, as unregisterProtocol does.
    static void interceptSignInPage(const std::string& endURL,
                                    std::shared_ptr<DSTelemetryUIEvent> telemetryEvent);
    static void stopIntercepting();
    // The end URL, lower-cased, while registered.
    static std::optional<std::string> endURL();

    // Tags the request with the correlation id, so that the loads it leads to can be told
    // apart in the logs. Nothing changes without an id.
    static void addCorrelationId(const std::optional<ns::UUID>& correlationId,
                                 net::URLRequest& request);

    static bool canInitWithRequest(const net::URLRequest& request);
    static net::URLRequest canonicalRequestForRequest(const net::URLRequest& request);

    // What becomes of a load the sign-in page is sent to: it goes on, it is not followed
    // (plain http), or it is the end URL, whatever its scheme, which ends the sign-in.
    enum class Interception { Load, Stop, End };
    static Interception interceptionOf(const ns::URL& url);

    DSURLProtocol(net::URLRequest request, std::shared_ptr<net::URLProtocolClient> client);
    ~DSURLProtocol() override;

    void startLoading() override;
    void stopLoading() override;

private:
    class Connection;
    friend class Connection;

    void willRedirect(net::URLSessionTask& task, std::shared_ptr<const net::URLResponse> response,
                      net::URLRequest newRequest,
                      const net::URLSessionDelegate::RedirectionHandler& handler);
    void didReceiveChallenge(const net::URLAuthenticationChallenge& challenge,
                             const net::URLSessionDelegate::ChallengeHandler& completion);
    void didComplete(const std::optional<ns::Error>& error);
    std::string host() const;

    std::optional<ns::UUID> correlationId_;
    std::shared_ptr<net::URLSessionTask> connection_;
    // Set when the protocol cancels its own connection (a redirect handed to the client, the
    // end URL, a stop): that connection's end is then no news to the client, nor an error.
    std::atomic<bool> cancelled_{false};
};
