#pragma once

#include <libsoup/soup.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/net/HTTPTransport.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/net/Load.h"
#include "platform/net/LoadObserver.h"
#include "platform/net/URLRequest.h"
#include "platform/ns/Data.h"
#include "platform/ns/Result.h"

namespace net {

// One HTTP(S) exchange over libsoup, run on the SoupSessionThread and reported to a task. It
// never follows a redirection itself: a redirection's body is kept (within the size limit) and
// the proposed next request goes to the task, which decides.
//
// TLS is always verified (peer and host name) against the system's authorities, with TLS 1.2 at
// least; a certificate they do not vouch for is taken when TLSSettings' extra file vouches for
// it, for that host.
// Header fields that could end a header line are not sent, and neither are the fields the
// transfer itself must set (Content-Length, Host, Connection, Transfer-Encoding, Expect), so
// that a caller's wrong value cannot corrupt the exchange.
class SoupTransfer final : public Load, public std::enable_shared_from_this<SoupTransfer> {
public:
    using Clock = std::chrono::steady_clock;
    using Limits = HTTPTransport::Limits;
    using Body = HTTPTransport::Body;

    // A transfer ready to begin, or the error the task fails with (bad URL, unreadable body
    // file).
    static ns::Result<std::shared_ptr<SoupTransfer>> make(std::shared_ptr<LoadObserver> observer,
                                                          uint64_t load, URLRequest request,
                                                          Body body, Limits limits);
    ~SoupTransfer() override;

    // Load: ends the transfer; nothing is reported afterwards.
    void stop() override;

    // On the session thread: sends the request.
    void begin();

    // The request a redirection answer proposes, or nothing when the answer is final (no
    // usable Location, or a status that is not a redirection). One that leads to another
    // origin carries no credentials (Authorization, Cookie, Proxy-Authorization).
    static std::optional<URLRequest> redirectRequest(const URLRequest& request,
                                                     const HTTPURLResponse& response);

private:
    struct PassKey {};

public:
    SoupTransfer(PassKey, std::shared_ptr<LoadObserver> observer, uint64_t load, URLRequest request,
                 Body body, Limits limits);

private:
    std::optional<ns::Error> checkBody();
    bool attachBody();
    void attachHeaders();
    void finishHeaders();
    void send(bool onFreshConnection);
    bool resendsOnFreshConnection(const GError* error);
    void armTimers();
    void touch() { lastActivity_ = Clock::now(); }
    bool endsAfterOperation(bool succeeded, GError* error);
    void sent(GInputStream* stream, GError* error);
    void readNext();
    void received(GBytes* bytes, GError* error);
    bool take(const uint8_t* bytes, size_t length);
    std::shared_ptr<HTTPURLResponse> response() const;
    void connectedSecurely(GTlsCertificate* certificate);
    void refuseConnection(GIOStream* connection);
    bool extraAuthorityTrusts(GTlsCertificate* certificate) const;
    void complete();
    // Reports the end (once, unless stopped), and lets the transfer go once nothing of it is
    // under way any more.
    void settle(std::optional<ns::Error> error);
    void release();
    ns::Error errorFor(const GError* error) const;
    bool headTooLong(const GError* error) const;
    ns::Error urlError(int64_t code, const std::string& detail = {}) const;
    int port() const;

    static void onSent(GObject* session, GAsyncResult* result, gpointer self);
    static void onRead(GObject* stream, GAsyncResult* result, gpointer self);
    static gboolean onAcceptCertificate(SoupMessage*, GTlsCertificate* certificate,
                                        GTlsCertificateFlags, gpointer self);
    static void onNetworkEvent(SoupMessage*, GSocketClientEvent event, GIOStream* connection,
                               gpointer self);
    static void onStarting(SoupMessage*, gpointer self);
    static void onActivity(SoupMessage*, gpointer self);
    static void onBodyWritten(SoupMessage*, guint, gpointer self);
    static gboolean onIdleCheck(gpointer self);
    static gboolean onResourceTimeout(gpointer self);

    const std::shared_ptr<LoadObserver> observer_;
    const uint64_t load_;
    const URLRequest request_;
    Body body_;
    const Limits limits_;
    uint64_t bodySize_ = 0;
    // Made with the transfer, so that stop() can cancel it from any thread.
    GCancellable* const cancellable_;
    std::atomic<bool> stopped_{false};

    // Session thread only.
    std::shared_ptr<SoupTransfer> self_;  // the transfer keeps itself while under way
    SoupMessage* message_ = nullptr;
    GInputStream* stream_ = nullptr;
    GSource* idleTimer_ = nullptr;
    GSource* resourceTimer_ = nullptr;
    Clock::time_point lastActivity_;
    bool pending_ = false;  // a send or read is under way
    bool reported_ = false;
    bool connecting_ = false;  // the request is not going over a kept connection
    bool resent_ = false;
    uint64_t received_ = 0;
    std::optional<URLRequest> redirect_;
    std::shared_ptr<const HTTPURLResponse> redirectResponse_;
    ns::Data redirectBody_;
};

}  // namespace net
