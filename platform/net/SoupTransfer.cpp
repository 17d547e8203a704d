#include "platform/net/SoupTransfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "platform/net/Origin.h"
#include "platform/net/ServerTrust.h"
#include "platform/net/SoupSessionThread.h"
#include "platform/net/TLSSettings.h"
#include "platform/net/URLError.h"
#include "platform/ns/Log.h"
#include "platform/ns/StringComponents.h"

namespace net {

namespace {

constexpr gsize kReadChunk = 64 * 1024;
// The longest response head the library reads.
constexpr guint64 kHeadBound = 64 * 1024;

bool isWebScheme(const ns::URL& url) {
    if (!url.scheme()) return false;
    auto scheme = ns::asciiLowercased(*url.scheme());
    return scheme == "http" || scheme == "https";
}

bool isWebURL(const ns::URL& url) {
    return isWebScheme(url) && url.host() && !url.host()->empty();
}

bool isRedirectStatus(int status) {
    return status == 300 || status == 301 || status == 302 || status == 303 || status == 307 ||
           status == 308;
}

// Fields the transfer sets itself, whatever the caller asked.
bool isReservedField(std::string_view name) {
    static const char* const kReserved[] = {"Content-Length", "Host", "Connection",
                                            "Transfer-Encoding", "Expect"};
    CaseInsensitiveLess less;
    return std::any_of(std::begin(kReserved), std::end(kReserved), [&](const char* reserved) {
        return !less(name, reserved) && !less(reserved, name);
    });
}

guint millis(std::chrono::duration<double> duration) {
    const double ms = duration.count() * 1000.0;
    return ms >= static_cast<double>(UINT_MAX) ? UINT_MAX
                                               : std::max(1u, static_cast<guint>(ms + 0.5));
}

std::string httpVersionText(SoupHTTPVersion version) {
    switch (version) {
        case SOUP_HTTP_1_0:
            return "HTTP/1.0";
        case SOUP_HTTP_2_0:
            return "HTTP/2";
        default:
            return "HTTP/1.1";
    }
}

int64_t ioErrorCode(int code) {
    switch (code) {
        case G_IO_ERROR_TIMED_OUT:
            return kURLErrorTimedOut;
        case G_IO_ERROR_HOST_NOT_FOUND:
            return kURLErrorCannotFindHost;
        case G_IO_ERROR_NETWORK_UNREACHABLE:
            return kURLErrorNotConnectedToInternet;
        case G_IO_ERROR_CONNECTION_REFUSED:
        case G_IO_ERROR_HOST_UNREACHABLE:
        case G_IO_ERROR_PROXY_FAILED:
        case G_IO_ERROR_PROXY_AUTH_FAILED:
        case G_IO_ERROR_PROXY_NEED_AUTH:
        case G_IO_ERROR_PROXY_NOT_ALLOWED:
            return kURLErrorCannotConnectToHost;
        case G_IO_ERROR_CONNECTION_CLOSED:  // also the broken pipe
        case G_IO_ERROR_PARTIAL_INPUT:
        case G_IO_ERROR_NOT_CONNECTED:
            return kURLErrorNetworkConnectionLost;
        case G_IO_ERROR_INVALID_DATA:
            return kURLErrorBadServerResponse;
        default:
            return kURLErrorUnknown;
    }
}

int64_t sessionErrorCode(int code) {
    switch (code) {
        case SOUP_SESSION_ERROR_TOO_MANY_REDIRECTS:
            return kURLErrorHTTPTooManyRedirects;
        case SOUP_SESSION_ERROR_TOO_MANY_RESTARTS:
            return kURLErrorNetworkConnectionLost;
        case SOUP_SESSION_ERROR_PARSING:
        case SOUP_SESSION_ERROR_ENCODING:
        case SOUP_SESSION_ERROR_REDIRECT_NO_LOCATION:
        case SOUP_SESSION_ERROR_REDIRECT_BAD_URI:
            return kURLErrorBadServerResponse;
        default:
            return kURLErrorUnknown;
    }
}

bool isOlderThanTLS12(GTlsProtocolVersion version) {
    return version == G_TLS_PROTOCOL_VERSION_SSL_3_0 || version == G_TLS_PROTOCOL_VERSION_TLS_1_0 ||
           version == G_TLS_PROTOCOL_VERSION_TLS_1_1;
}

// The DER of each certificate the server presented, its own first.
std::vector<ns::Data> chainOf(GTlsCertificate* certificate) {
    std::vector<ns::Data> chain;
    for (GTlsCertificate* c = certificate; c; c = g_tls_certificate_get_issuer(c)) {
        GByteArray* der = nullptr;
        g_object_get(c, "certificate", &der, nullptr);
        if (!der) continue;
        chain.emplace_back(der->data, der->len);
        g_byte_array_unref(der);
    }
    return chain;
}

}  // namespace

ns::Result<std::shared_ptr<SoupTransfer>> SoupTransfer::make(std::shared_ptr<LoadObserver> observer,
                                                             uint64_t load, URLRequest request,
                                                             Body body, Limits limits) {
    if (!isWebURL(request.url())) {
        return makeURLError(isWebScheme(request.url()) ? kURLErrorBadURL : kURLErrorUnsupportedURL,
                            request.url());
    }
    if (!isHeaderFieldName(request.HTTPMethod()))
        return makeURLError(kURLErrorBadURL, request.url());
    auto transfer = std::make_shared<SoupTransfer>(PassKey{}, std::move(observer), load,
                                                   std::move(request), std::move(body), limits);
    if (auto error = transfer->checkBody()) return *error;
    return transfer;
}

SoupTransfer::SoupTransfer(PassKey, std::shared_ptr<LoadObserver> observer, uint64_t load,
                           URLRequest request, Body body, Limits limits)
    : observer_(std::move(observer)),
      load_(load),
      request_(std::move(request)),
      body_(std::move(body)),
      limits_(limits),
      cancellable_(g_cancellable_new()),
      lastActivity_(Clock::now()) {}

SoupTransfer::~SoupTransfer() {
    g_object_unref(cancellable_);
}

// An unreadable body file fails the task at once, before anything is sent.
std::optional<ns::Error> SoupTransfer::checkBody() {
    if (request_.methodSendsNoBody()) {
        body_ = {};
        return std::nullopt;
    }
    if (body_.file) {
        const int fd = ::open(body_.file->c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        const bool readable = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        if (fd >= 0) ::close(fd);
        if (!readable) return makeURLError(kURLErrorFileDoesNotExist, request_.url(), *body_.file);
        bodySize_ = static_cast<uint64_t>(st.st_size);
    } else if (body_.data) {
        bodySize_ = body_.data->length();
    }
    return std::nullopt;
}

void SoupTransfer::stop() {
    if (stopped_.exchange(true)) return;
    g_cancellable_cancel(cancellable_);
}

void SoupTransfer::begin() {
    self_ = shared_from_this();
    if (stopped_) return release();
    armTimers();
    send(false);
}

void SoupTransfer::send(bool onFreshConnection) {
    GUri* uri = g_uri_parse(request_.url().absoluteString().c_str(),
                            static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), nullptr);
    message_ = uri ? soup_message_new_from_uri(request_.HTTPMethod().c_str(), uri) : nullptr;
    if (uri) g_uri_unref(uri);
    if (!message_) return settle(urlError(kURLErrorBadURL));
    // The metrics tell a head too long for the library from a connection cut short. Only a
    // request that may safely go twice is sent over a kept connection: a server may close one
    // that sat idle just as a request arrives, unread or read whole, and only such a request can
    // then go again. Any other (a POST) goes on a connection of its own, which the library opens
    // for a message not marked idempotent, so that no idle time-out can cut it off.
    auto flags = SOUP_MESSAGE_NO_REDIRECT | SOUP_MESSAGE_COLLECT_METRICS;
    if (request_.methodIsIdempotent()) flags |= SOUP_MESSAGE_IDEMPOTENT;
    if (onFreshConnection) flags |= SOUP_MESSAGE_NEW_CONNECTION;
    soup_message_add_flags(message_, static_cast<SoupMessageFlags>(flags));
    attachHeaders();
    if (!attachBody()) {
        return settle(makeURLError(kURLErrorFileDoesNotExist, request_.url(), *body_.file));
    }
    g_signal_connect(message_, "accept-certificate", G_CALLBACK(onAcceptCertificate), this);
    g_signal_connect(message_, "network-event", G_CALLBACK(onNetworkEvent), this);
    g_signal_connect(message_, "wrote-body-data", G_CALLBACK(onBodyWritten), this);
    g_signal_connect(message_, "got-informational", G_CALLBACK(onActivity), this);
    g_signal_connect(message_, "starting", G_CALLBACK(onStarting), this);
    connecting_ = false;
    pending_ = true;
    soup_session_send_async(SoupSessionThread::shared().session(), message_, G_PRIORITY_DEFAULT,
                            cancellable_, &SoupTransfer::onSent, this);
}

// A kept connection that the server closed while the request went out (it may have timed the
// connection out just then) says nothing of whether the server acted on it: a request that may
// safely go twice goes once more, on a connection of its own. The library does so itself,
// on a connection of its own as well; this covers a first resend that met another kept
// connection. A failure on a fresh connection is final, and so is any failure of a request
// that may not go twice: its caller decides whether to send it again.
bool SoupTransfer::resendsOnFreshConnection(const GError* error) {
    if (!request_.methodIsIdempotent()) return false;
    if (resent_ || connecting_ || stopped_ || reported_ || !error) return false;
    if (errorFor(error).code() != kURLErrorNetworkConnectionLost) return false;
    resent_ = true;
    g_signal_handlers_disconnect_by_data(message_, this);
    g_object_unref(std::exchange(message_, nullptr));
    send(true);
    return true;
}

// A request says it takes any media type, and names the encodings the session's decoder takes
// apart (and no other: a server may answer in any encoding announced), unless the caller says
// otherwise.
void SoupTransfer::attachHeaders() {
    SoupMessageHeaders* headers = soup_message_get_request_headers(message_);
    if (!request_.valueForHTTPHeaderField("Accept")) {
        soup_message_headers_append(headers, "Accept", "*/*");
    }
    if (!request_.valueForHTTPHeaderField("Accept-Encoding")) {
        soup_message_headers_append(headers, "Accept-Encoding", "deflate, gzip, br");
    }
    for (const auto& [name, value] : request_.allHTTPHeaderFields()) {
        if (isReservedField(name)) continue;
        if (!isHeaderFieldName(name) || !isHeaderFieldValue(value)) {
            ns::Log::write(ns::LogLevel::Error, "net", "http",
                           "Not sending a header field that would break the request: " + name);
            continue;
        }
        soup_message_headers_append(headers, name.c_str(), value.c_str());
    }
}

// As the request goes out. The library adds the Host field last, and a client sends it first.
// It also asks for a persistent connection, which HTTP/1.1 servers keep without being asked: the
// request does not say so (a server of HTTP/1.0 then closes the connection after its answer).
void SoupTransfer::finishHeaders() {
    SoupMessageHeaders* headers = soup_message_get_request_headers(message_);
    const char* hostValue = soup_message_headers_get_one(headers, "Host");
    if (!hostValue) return;  // HTTP/2 names the host otherwise
    std::vector<std::pair<std::string, std::string>> fields{{"Host", hostValue}};
    soup_message_headers_foreach(
        headers,
        [](const char* name, const char* value, gpointer into) {
            if (g_ascii_strcasecmp(name, "Host") == 0) return;
            if (g_ascii_strcasecmp(name, "Connection") == 0 &&
                g_ascii_strcasecmp(value, "Keep-Alive") == 0) {
                return;
            }
            static_cast<decltype(fields)*>(into)->emplace_back(name, value);
        },
        &fields);
    soup_message_headers_clear(headers);
    for (const auto& [name, value] : fields) {
        soup_message_headers_append(headers, name.c_str(), value.c_str());
    }
}

// The body from memory or from its file, both of which can be read again when the message is
// sent again on a fresh connection. A POST without a body says so with a length of 0. What a
// POST sends has a media type: form fields when the caller names none.
bool SoupTransfer::attachBody() {
    if (body_.file) {
        GFile* file = g_file_new_for_path(body_.file->c_str());
        GFileInputStream* stream = g_file_read(file, nullptr, nullptr);
        g_object_unref(file);
        if (!stream) return false;
        soup_message_set_request_body(message_, nullptr, G_INPUT_STREAM(stream),
                                      static_cast<gssize>(bodySize_));
        g_object_unref(stream);
    } else if (body_.data || request_.HTTPMethod() == "POST") {
        GBytes* bytes = body_.data ? g_bytes_new(body_.data->bytes(), body_.data->length())
                                   : g_bytes_new(nullptr, 0);
        soup_message_set_request_body_from_bytes(message_, nullptr, bytes);
        g_bytes_unref(bytes);
    }
    if (request_.HTTPMethod() == "POST" && !request_.valueForHTTPHeaderField("Content-Type")) {
        soup_message_headers_append(soup_message_get_request_headers(message_), "Content-Type",
                                    "application/x-www-form-urlencoded");
    }
    return true;
}

// The idle time-out counts from the last bytes that moved (the start, to begin with); the
// resource time-out from the start.
void SoupTransfer::armTimers() {
    touch();
    GMainContext* context = SoupSessionThread::shared().context();
    if (limits_.idleTimeout > 0) {
        idleTimer_ =
            g_timeout_source_new(millis(std::chrono::duration<double>(limits_.idleTimeout)));
        g_source_set_callback(idleTimer_, &SoupTransfer::onIdleCheck, this, nullptr);
        g_source_attach(idleTimer_, context);
    }
    if (limits_.resourceTimeout > 0) {
        resourceTimer_ =
            g_timeout_source_new(millis(std::chrono::duration<double>(limits_.resourceTimeout)));
        g_source_set_callback(resourceTimer_, &SoupTransfer::onResourceTimeout, this, nullptr);
        g_source_attach(resourceTimer_, context);
    }
}

// After a send or read: true when the transfer ends there (it was ended meanwhile, or the
// operation failed), with the end settled.
bool SoupTransfer::endsAfterOperation(bool succeeded, GError* error) {
    pending_ = false;
    if (succeeded && !reported_ && !stopped_) return false;
    std::optional<ns::Error> failure;
    if (!reported_ && !stopped_) failure = errorFor(error);
    if (error) g_error_free(error);
    settle(std::move(failure));
    return true;
}

void SoupTransfer::sent(GInputStream* stream, GError* error) {
    if (!stream && resendsOnFreshConnection(error)) {
        g_error_free(error);
        return;
    }
    if (endsAfterOperation(stream != nullptr, error)) {
        if (stream) g_object_unref(stream);
        return;
    }
    stream_ = stream;
    touch();
    auto response = this->response();
    const goffset declared =
        soup_message_headers_get_content_length(soup_message_get_response_headers(message_));
    if (limits_.maximumResponseSize > 0 &&
        static_cast<uint64_t>(declared) > limits_.maximumResponseSize) {
        return settle(urlError(kURLErrorDataLengthExceedsMaximum));
    }
    redirect_ = redirectRequest(request_, *response);
    if (redirect_) {
        redirectResponse_ = std::move(response);
    } else {
        observer_->loadDidReceiveResponse(load_, std::move(response));
    }
    readNext();
}

void SoupTransfer::readNext() {
    pending_ = true;
    g_input_stream_read_bytes_async(stream_, kReadChunk, G_PRIORITY_DEFAULT, cancellable_,
                                    &SoupTransfer::onRead, this);
}

void SoupTransfer::received(GBytes* bytes, GError* error) {
    if (endsAfterOperation(bytes != nullptr, error)) {
        if (bytes) g_bytes_unref(bytes);
        return;
    }
    gsize length = 0;
    const auto* data = static_cast<const uint8_t*>(g_bytes_get_data(bytes, &length));
    if (length == 0) {
        g_bytes_unref(bytes);
        return complete();
    }
    touch();
    const bool more = take(data, length);
    g_bytes_unref(bytes);
    if (more) readNext();
}

// Passes on what arrived; false when the transfer has ended (too much, or the task wants no
// more).
bool SoupTransfer::take(const uint8_t* bytes, size_t length) {
    if (limits_.maximumResponseSize > 0 && received_ + length > limits_.maximumResponseSize) {
        settle(urlError(kURLErrorDataLengthExceedsMaximum));
        return false;
    }
    received_ += length;
    if (redirect_) {
        redirectBody_.append(bytes, length);
        return true;
    }
    if (!observer_->loadDidReceiveData(load_, bytes, length)) {
        // The task has ended (it failed or was cancelled) and reports that itself.
        stopped_ = true;
        settle(std::nullopt);
        return false;
    }
    return true;
}

std::shared_ptr<HTTPURLResponse> SoupTransfer::response() const {
    HTTPHeaderFields fields;
    soup_message_headers_foreach(
        soup_message_get_response_headers(message_),
        [](const char* name, const char* value, gpointer into) {
            addHeaderValue(*static_cast<HTTPHeaderFields*>(into), name, value);
        },
        &fields);
    return std::make_shared<HTTPURLResponse>(
        request_.url(), static_cast<int>(soup_message_get_status(message_)),
        httpVersionText(soup_message_get_http_version(message_)), std::move(fields));
}

void SoupTransfer::complete() {
    if (redirect_ && !stopped_ && !reported_) {
        reported_ = true;
        observer_->loadWasRedirected(load_, std::move(*redirect_), std::move(redirectResponse_),
                                     std::move(redirectBody_));
    }
    settle(std::nullopt);
}

void SoupTransfer::settle(std::optional<ns::Error> error) {
    if (!stopped_ && !reported_) observer_->loadDidFinish(load_, std::move(error));
    reported_ = true;
    if (pending_) {
        // The send or read under way ends as cancelled, and settles again.
        g_cancellable_cancel(cancellable_);
        return;
    }
    release();
}

void SoupTransfer::release() {
    for (GSource** timer : {&idleTimer_, &resourceTimer_}) {
        if (!*timer) continue;
        g_source_destroy(*timer);
        g_source_unref(std::exchange(*timer, nullptr));
    }
    if (stream_) g_object_unref(std::exchange(stream_, nullptr));
    if (message_) {
        g_signal_handlers_disconnect_by_data(message_, this);
        g_object_unref(std::exchange(message_, nullptr));
    }
    // The last reference may be this one.
    auto keep = std::move(self_);
}

// The TLS library would speak protocols older than TLS 1.2 with a server that offers no other:
// such a connection ends before a byte of the request goes over it, and its socket is closed so
// that no later request is sent over it either.
void SoupTransfer::refuseConnection(GIOStream* connection) {
    GIOStream* base = nullptr;
    g_object_get(connection, "base-io-stream", &base, nullptr);
    if (base && G_IS_SOCKET_CONNECTION(base)) {
        g_socket_close(g_socket_connection_get_socket(G_SOCKET_CONNECTION(base)), nullptr);
    }
    if (base) g_object_unref(base);
    settle(urlError(kURLErrorSecureConnectionFailed,
                    "The server offers no protocol newer than TLS 1.1."));
}

// The chain a new TLS connection presented, for the task's trust challenge.
void SoupTransfer::connectedSecurely(GTlsCertificate* certificate) {
    if (reported_ || stopped_ || !certificate) return;
    touch();
    auto trust =
        std::make_shared<ServerTrust>(request_.url().host().value_or(""), chainOf(certificate));
    observer_->loadDidConnectSecurely(load_, std::move(trust), port());
}

// The system's authorities do not vouch for the certificate: the extra file's may, for this
// host (its name, validity and chain checked against each of them).
bool SoupTransfer::extraAuthorityTrusts(GTlsCertificate* certificate) const {
    const std::string caFile = TLSSettings::extraCAFile();
    const auto host = request_.url().host();
    if (caFile.empty() || !host || !certificate) return false;
    GSocketConnectable* identity =
        g_network_address_new(host->c_str(), static_cast<guint16>(port()));
    GList* authorities = g_tls_certificate_list_new_from_file(caFile.c_str(), nullptr);
    bool trusted = false;
    for (GList* a = authorities; a && !trusted; a = a->next) {
        trusted = g_tls_certificate_verify(certificate, identity, G_TLS_CERTIFICATE(a->data)) == 0;
    }
    g_list_free_full(authorities, g_object_unref);
    g_object_unref(identity);
    return trusted;
}

ns::Error SoupTransfer::errorFor(const GError* error) const {
    if (!error) return urlError(kURLErrorUnknown);
    int64_t code = kURLErrorUnknown;
    if (error->domain == G_RESOLVER_ERROR) {
        code = kURLErrorCannotFindHost;
    } else if (error->domain == G_TLS_ERROR) {
        code = error->code == G_TLS_ERROR_BAD_CERTIFICATE ? kURLErrorServerCertificateUntrusted
                                                          : kURLErrorSecureConnectionFailed;
    } else if (error->domain == G_IO_ERROR && headTooLong(error)) {
        code = kURLErrorBadServerResponse;
    } else if (error->domain == G_IO_ERROR) {
        code = ioErrorCode(error->code);
    } else if (error->domain == SOUP_SESSION_ERROR) {
        code = sessionErrorCode(error->code);
    }
    return urlError(code, error->message ? error->message : "");
}

// The library ends a response head beyond its bound (64 KiB) as if the connection had been cut
// short: a server that sends more is answering badly.
bool SoupTransfer::headTooLong(const GError* error) const {
    if (error->code != G_IO_ERROR_PARTIAL_INPUT || !message_ || stream_) return false;
    SoupMessageMetrics* metrics = soup_message_get_metrics(message_);
    return metrics &&
           soup_message_metrics_get_response_header_bytes_received(metrics) >= kHeadBound;
}

ns::Error SoupTransfer::urlError(int64_t code, const std::string& detail) const {
    return makeURLError(code, request_.url(), detail);
}

int SoupTransfer::port() const {
    return effectivePort(request_.url());
}

std::optional<URLRequest> SoupTransfer::redirectRequest(const URLRequest& request,
                                                        const HTTPURLResponse& response) {
    if (!isRedirectStatus(response.statusCode())) return std::nullopt;
    auto location = response.valueForHTTPHeaderField("Location");
    if (!location || location->empty()) return std::nullopt;
    auto target = ns::URL::parse(*location, request.url());
    // Only to the web: a redirection may not point a task at a local file or another scheme.
    if (!target || !isWebURL(*target)) return std::nullopt;

    URLRequest next = request;
    next.setURL(*target);
    if (!isSameOrigin(request.url(), *target)) {
        // The credentials were given to the origin that answered, not to the one it names.
        for (const auto& [name, value] : request.allHTTPHeaderFields()) {
            if (carriesCredentials(name)) next.setValue(std::nullopt, name);
        }
    }
    const int status = response.statusCode();
    if (status == 303 || ((status == 301 || status == 302) && request.HTTPMethod() == "POST")) {
        if (request.HTTPMethod() != "HEAD") next.setHTTPMethod("GET");
        next.setHTTPBody(std::nullopt);
        next.setHTTPBodyFile(std::nullopt);
        next.setValue(std::nullopt, "Content-Type");
        next.setValue(std::nullopt, "Content-Encoding");
    }
    return next;
}

// --- libsoup's callbacks, on the session thread ------------------------------------------------

void SoupTransfer::onSent(GObject* session, GAsyncResult* result, gpointer self) {
    GError* error = nullptr;
    GInputStream* stream = soup_session_send_finish(SOUP_SESSION(session), result, &error);
    static_cast<SoupTransfer*>(self)->sent(stream, error);
}

void SoupTransfer::onRead(GObject* stream, GAsyncResult* result, gpointer self) {
    GError* error = nullptr;
    GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(stream), result, &error);
    static_cast<SoupTransfer*>(self)->received(bytes, error);
}

gboolean SoupTransfer::onAcceptCertificate(SoupMessage*, GTlsCertificate* certificate,
                                           GTlsCertificateFlags, gpointer self) {
    return static_cast<SoupTransfer*>(self)->extraAuthorityTrusts(certificate) ? TRUE : FALSE;
}

void SoupTransfer::onNetworkEvent(SoupMessage*, GSocketClientEvent event, GIOStream* connection,
                                  gpointer self) {
    auto* transfer = static_cast<SoupTransfer*>(self);
    transfer->touch();
    if (event == G_SOCKET_CLIENT_RESOLVING) transfer->connecting_ = true;
    if (event != G_SOCKET_CLIENT_TLS_HANDSHAKED || !G_IS_TLS_CONNECTION(connection)) return;
    if (isOlderThanTLS12(g_tls_connection_get_protocol_version(G_TLS_CONNECTION(connection)))) {
        transfer->refuseConnection(connection);
        return;
    }
    transfer->connectedSecurely(
        g_tls_connection_get_peer_certificate(G_TLS_CONNECTION(connection)));
}

void SoupTransfer::onStarting(SoupMessage*, gpointer self) {
    static_cast<SoupTransfer*>(self)->finishHeaders();
}

void SoupTransfer::onActivity(SoupMessage*, gpointer self) {
    static_cast<SoupTransfer*>(self)->touch();
}

void SoupTransfer::onBodyWritten(SoupMessage*, guint, gpointer self) {
    static_cast<SoupTransfer*>(self)->touch();
}

gboolean SoupTransfer::onIdleCheck(gpointer self) {
    auto* transfer = static_cast<SoupTransfer*>(self);
    const auto idle = std::chrono::duration<double>(transfer->limits_.idleTimeout);
    const auto silent = Clock::now() - transfer->lastActivity_;
    if (silent < idle) {
        // Bytes moved meanwhile: look again when the rest of the time is up.
        GSource* next = g_timeout_source_new(millis(idle - silent));
        g_source_set_callback(next, &SoupTransfer::onIdleCheck, self, nullptr);
        g_source_attach(next, SoupSessionThread::shared().context());
        g_source_unref(std::exchange(transfer->idleTimer_, next));
        return G_SOURCE_REMOVE;
    }
    transfer->settle(transfer->urlError(kURLErrorTimedOut));
    return G_SOURCE_REMOVE;
}

gboolean SoupTransfer::onResourceTimeout(gpointer self) {
    auto* transfer = static_cast<SoupTransfer*>(self);
    transfer->settle(transfer->urlError(kURLErrorTimedOut));
    return G_SOURCE_REMOVE;
}

}  // namespace net
