#pragma once

#include <curl/curl.h>

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

// One HTTP(S) exchange over libcurl, run by the TransferEngine on its thread and reported to a
// task. It never follows a redirection itself: a redirection's body is kept (within the size
// limit) and the proposed next request goes to the task, which decides.
//
// TLS is always verified (peer and host name) against the system store and TLSSettings' extra
// file, with TLS 1.2 at least. Header fields that could end a header line are not sent, and
// neither are the fields the transfer itself must set (Content-Length, Host, Connection,
// Transfer-Encoding), so that a caller's wrong value cannot corrupt the exchange.
class CurlTransfer final : public Load, public std::enable_shared_from_this<CurlTransfer> {
public:
    using Clock = std::chrono::steady_clock;

    using Limits = HTTPTransport::Limits;
    using Body = HTTPTransport::Body;

    // A transfer ready for the engine, or the error the task fails with (bad URL, unreadable
    // body file).
    static ns::Result<std::shared_ptr<CurlTransfer>> make(std::shared_ptr<LoadObserver> observer,
                                                          uint64_t load, URLRequest request,
                                                          Body body, Limits limits);
    ~CurlTransfer() override;

    // Load: removes the transfer from the engine; nothing is reported afterwards.
    void stop() override;

    // For the engine, on its thread.
    uint64_t id() const { return id_; }
    CURL* handle() const { return easy_; }
    void finish(CURLcode code);
    // A host that no name server can know: the transfer ends as unresolved without asking.
    bool hostNeverResolves();
    Clock::time_point idleDeadline() const;
    void expireIdle();

    // The request a redirection answer proposes, or nothing when the answer is final (no
    // usable Location, or a status that is not a redirection).
    static std::optional<URLRequest> redirectRequest(const URLRequest& request,
                                                     const HTTPURLResponse& response);

private:
    struct PassKey {};

public:
    CurlTransfer(PassKey, std::shared_ptr<LoadObserver> observer, uint64_t load, URLRequest request,
                 Body body, Limits limits);

private:
    std::optional<ns::Error> configure();
    std::optional<ns::Error> configureBody();
    void configureHeaders();
    void touch() { lastActivity_ = Clock::now(); }
    void reportTrustIfNew();
    void endOfHeaders();
    void report(std::optional<ns::Error> error);
    ns::Error errorFor(CURLcode code) const;

    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static size_t onWrite(char* data, size_t size, size_t count, void* self);
    static size_t onRead(char* buffer, size_t size, size_t count, void* self);
    static int onSeek(void* self, curl_off_t offset, int origin);
    static int onProgress(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                          curl_off_t ulNow);
    static CURLcode onSSLContext(CURL* easy, void* sslContext, void* self);
    static int onConnected(void* self, char* primaryIP, char* localIP, int primaryPort,
                           int localPort);

    const uint64_t id_;
    const std::shared_ptr<LoadObserver> observer_;
    const uint64_t load_;
    const URLRequest request_;
    Body body_;
    const Limits limits_;
    CURL* easy_ = nullptr;
    curl_slist* headers_ = nullptr;
    int bodyFd_ = -1;
    uint64_t bodyOffset_ = 0;
    uint64_t bodySize_ = 0;
    std::string noProxy_;
    char errorBuffer_[CURL_ERROR_SIZE] = {};

    // Engine thread only.
    Clock::time_point lastActivity_;
    curl_off_t lastDown_ = 0;
    curl_off_t lastUp_ = 0;
    bool newTLSConnection_ = false;
    bool headersDone_ = false;
    bool responseTooLarge_ = false;
    bool reported_ = false;
    std::optional<URLRequest> redirect_;
    std::shared_ptr<const HTTPURLResponse> redirectResponse_;
    ns::Data redirectBody_;

    std::atomic<bool> stopped_{false};
};

}  // namespace net
