#include "platform/net/CurlTransfer.h"

#include <fcntl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/net/HostNames.h"
#include "platform/net/TLSSettings.h"
#include "platform/net/TransferEngine.h"
#include "platform/net/URLError.h"
#include "platform/ns/Log.h"

namespace net {

namespace {

std::atomic<uint64_t> nextTransferId{1};

std::string lowered(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool isWebURL(const ns::URL& url) {
    if (!url.scheme() || !url.host() || url.host()->empty()) return false;
    auto scheme = lowered(*url.scheme());
    return scheme == "http" || scheme == "https";
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

long millis(double seconds) {
    if (!(seconds > 0)) return 0;
    double ms = seconds * 1000.0;
    return ms >= static_cast<double>(LONG_MAX) ? LONG_MAX : std::max(1L, static_cast<long>(ms));
}

std::string httpVersionText(long version) {
    switch (version) {
        case CURL_HTTP_VERSION_1_0:
            return "HTTP/1.0";
        case CURL_HTTP_VERSION_2_0:
            return "HTTP/2";
        case CURL_HTTP_VERSION_3:
            return "HTTP/3";
        default:
            return "HTTP/1.1";
    }
}

// Loopback never goes through a proxy, whatever the environment says about others.
std::string noProxyList() {
    std::string list = "localhost,127.0.0.1,::1";
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
        if (const char* value = std::getenv(name); value && *value) {
            list = std::string(value) + "," + list;
            break;
        }
    }
    return list;
}

int64_t urlErrorCode(CURLcode code, long osErrno) {
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            return kURLErrorTimedOut;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return kURLErrorCannotFindHost;
        case CURLE_COULDNT_CONNECT:
            return (osErrno == ENETUNREACH || osErrno == ENETDOWN) ? kURLErrorNotConnectedToInternet
                                                                   : kURLErrorCannotConnectToHost;
        case CURLE_PEER_FAILED_VERIFICATION:
            return kURLErrorServerCertificateUntrusted;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CLIENTCERT:
        case CURLE_USE_SSL_FAILED:
            return kURLErrorSecureConnectionFailed;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
            return kURLErrorNetworkConnectionLost;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_BAD_CONTENT_ENCODING:
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_HTTP3:
            return kURLErrorBadServerResponse;
        case CURLE_URL_MALFORMAT:
            return kURLErrorBadURL;
        case CURLE_FILESIZE_EXCEEDED:
            return kURLErrorDataLengthExceedsMaximum;
        case CURLE_READ_ERROR:
            return kURLErrorRequestBodyStreamExhausted;
        default:
            return kURLErrorUnknown;
    }
}

}  // namespace

ns::Result<std::shared_ptr<CurlTransfer>> CurlTransfer::make(std::shared_ptr<LoadObserver> observer,
                                                             uint64_t load, URLRequest request,
                                                             Body body, Limits limits) {
    if (!isWebURL(request.url())) {
        bool webScheme = request.url().scheme() && (lowered(*request.url().scheme()) == "http" ||
                                                    lowered(*request.url().scheme()) == "https");
        return makeURLError(webScheme ? kURLErrorBadURL : kURLErrorUnsupportedURL, request.url());
    }
    if (!isHeaderFieldName(request.HTTPMethod()))
        return makeURLError(kURLErrorBadURL, request.url());
    auto transfer = std::make_shared<CurlTransfer>(PassKey{}, std::move(observer), load,
                                                   std::move(request), std::move(body), limits);
    if (auto error = transfer->configure()) return *error;
    return transfer;
}

CurlTransfer::CurlTransfer(PassKey, std::shared_ptr<LoadObserver> observer, uint64_t load,
                           URLRequest request, Body body, Limits limits)
    : id_(nextTransferId++),
      observer_(std::move(observer)),
      load_(load),
      request_(std::move(request)),
      body_(std::move(body)),
      limits_(limits),
      lastActivity_(Clock::now()) {}

CurlTransfer::~CurlTransfer() {
    if (easy_) curl_easy_cleanup(easy_);
    if (headers_) curl_slist_free_all(headers_);
    if (bodyFd_ >= 0) ::close(bodyFd_);
}

std::optional<ns::Error> CurlTransfer::configure() {
    TransferEngine::shared();  // the library is initialised before the first handle
    easy_ = curl_easy_init();
    if (!easy_) return makeURLError(kURLErrorUnknown, request_.url(), "curl_easy_init failed");
    const std::string url = request_.url().absoluteString();
    curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorBuffer_);
    curl_easy_setopt(easy_, CURLOPT_ACCEPT_ENCODING, "");
    noProxy_ = noProxyList();
    curl_easy_setopt(easy_, CURLOPT_NOPROXY, noProxy_.c_str());

    curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy_, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    // A cached store would keep authorities after TLSSettings dropped them.
    curl_easy_setopt(easy_, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    curl_easy_setopt(easy_, CURLOPT_SSL_CTX_FUNCTION, &CurlTransfer::onSSLContext);
    curl_easy_setopt(easy_, CURLOPT_SSL_CTX_DATA, this);

    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, millis(limits_.idleTimeout));
    curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, millis(limits_.resourceTimeout));
    if (limits_.maximumResponseSize > 0) {
        curl_easy_setopt(
            easy_, CURLOPT_MAXFILESIZE_LARGE,
            static_cast<curl_off_t>(std::min<uint64_t>(limits_.maximumResponseSize, INT64_MAX)));
    }

    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlTransfer::onHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlTransfer::onWrite);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::onProgress);
    curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy_, CURLOPT_PREREQFUNCTION, &CurlTransfer::onConnected);
    curl_easy_setopt(easy_, CURLOPT_PREREQDATA, this);

    if (auto error = configureBody()) return error;
    configureHeaders();
    return std::nullopt;
}

std::optional<ns::Error> CurlTransfer::configureBody() {
    const std::string& method = request_.HTTPMethod();
    if (request_.methodSendsNoBody()) {
        if (method == "HEAD") curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
        body_ = {};
        return std::nullopt;
    }
    if (!body_.file && !body_.data && method != "POST") return std::nullopt;
    if (body_.file) {
        bodyFd_ = ::open(body_.file->c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (bodyFd_ < 0 || ::fstat(bodyFd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            return makeURLError(kURLErrorFileDoesNotExist, request_.url(), *body_.file);
        }
        bodySize_ = static_cast<uint64_t>(st.st_size);
    } else if (body_.data) {
        bodySize_ = body_.data->length();
    }
    curl_easy_setopt(easy_, CURLOPT_READFUNCTION, &CurlTransfer::onRead);
    curl_easy_setopt(easy_, CURLOPT_READDATA, this);
    curl_easy_setopt(easy_, CURLOPT_SEEKFUNCTION, &CurlTransfer::onSeek);
    curl_easy_setopt(easy_, CURLOPT_SEEKDATA, this);
    if (method == "POST") {
        curl_easy_setopt(easy_, CURLOPT_POST, 1L);
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bodySize_));
    } else {
        curl_easy_setopt(easy_, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(easy_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bodySize_));
        curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    return std::nullopt;
}

void CurlTransfer::configureHeaders() {
    const std::string& method = request_.HTTPMethod();
    if (method != "GET" && method != "HEAD" && method != "POST") {
        curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    // The server answers at once instead of after a "100 Continue" it may never send.
    headers_ = curl_slist_append(headers_, "Expect:");
    for (const auto& [name, value] : request_.allHTTPHeaderFields()) {
        if (isReservedField(name)) continue;
        if (!isHeaderFieldName(name) || !isHeaderFieldValue(value)) {
            ns::Log::write(ns::LogLevel::Error, "net", "http",
                           "Not sending a header field that would break the request: " + name);
            continue;
        }
        // "Name;" is how the library sends a field with an empty value.
        std::string line = value.empty() ? name + ";" : name + ": " + value;
        headers_ = curl_slist_append(headers_, line.c_str());
    }
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
}

void CurlTransfer::stop() {
    if (stopped_.exchange(true)) return;
    TransferEngine::shared().remove(id_);
}

CurlTransfer::Clock::time_point CurlTransfer::idleDeadline() const {
    return lastActivity_ +
           std::chrono::duration_cast<Clock::duration>(
               std::chrono::duration<double>(limits_.idleTimeout > 0 ? limits_.idleTimeout : 1e9));
}

void CurlTransfer::expireIdle() {
    report(makeURLError(kURLErrorTimedOut, request_.url()));
}

bool CurlTransfer::hostNeverResolves() {
    const auto host = request_.url().host();
    if (!host || !net::hostNeverResolves(*host)) return false;
    std::snprintf(errorBuffer_, sizeof errorBuffer_, "Could not resolve host: %s", host->c_str());
    return true;
}

void CurlTransfer::finish(CURLcode code) {
    if (code != CURLE_OK) {
        report(errorFor(code));
    } else if (!headersDone_) {
        report(makeURLError(kURLErrorBadServerResponse, request_.url()));
    } else if (redirect_) {
        if (stopped_ || reported_) return;
        reported_ = true;
        observer_->loadWasRedirected(load_, std::move(*redirect_), std::move(redirectResponse_),
                                     std::move(redirectBody_));
    } else {
        report(std::nullopt);
    }
}

void CurlTransfer::report(std::optional<ns::Error> error) {
    if (stopped_ || reported_) return;
    reported_ = true;
    observer_->loadDidFinish(load_, std::move(error));
}

ns::Error CurlTransfer::errorFor(CURLcode code) const {
    long osErrno = 0;
    curl_easy_getinfo(easy_, CURLINFO_OS_ERRNO, &osErrno);
    int64_t urlCode = urlErrorCode(code, osErrno);
    if (code == CURLE_WRITE_ERROR && responseTooLarge_) {
        urlCode = kURLErrorDataLengthExceedsMaximum;
    } else if (code == CURLE_OUT_OF_MEMORY && !headersDone_) {
        // The library's bounds on a header line (100 KiB) and on the whole head report as
        // running out of memory: a server that sends more is answering badly.
        urlCode = kURLErrorBadServerResponse;
    }
    std::string detail = errorBuffer_[0] ? errorBuffer_ : curl_easy_strerror(code);
    return makeURLError(urlCode, request_.url(), detail);
}

std::optional<URLRequest> CurlTransfer::redirectRequest(const URLRequest& request,
                                                        const HTTPURLResponse& response) {
    if (!isRedirectStatus(response.statusCode())) return std::nullopt;
    auto location = response.valueForHTTPHeaderField("Location");
    if (!location || location->empty()) return std::nullopt;
    auto target = ns::URL::parse(*location, request.url());
    // Only to the web: a redirection may not point a task at a local file or another scheme.
    if (!target || !isWebURL(*target)) return std::nullopt;

    URLRequest next = request;
    next.setURL(*target);
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

void CurlTransfer::reportTrustIfNew() {
    if (!newTLSConnection_) return;
    newTLSConnection_ = false;
    curl_tlssessioninfo* info = nullptr;
    if (curl_easy_getinfo(easy_, CURLINFO_TLS_SSL_PTR, &info) != CURLE_OK || !info ||
        info->backend != CURLSSLBACKEND_OPENSSL || !info->internals) {
        return;
    }
    std::vector<ns::Data> chain;
    if (STACK_OF(X509)* certs = SSL_get_peer_cert_chain(static_cast<SSL*>(info->internals))) {
        for (int i = 0; i < sk_X509_num(certs); ++i) {
            unsigned char* der = nullptr;
            int length = i2d_X509(sk_X509_value(certs, i), &der);
            if (length <= 0) continue;
            chain.emplace_back(der, static_cast<size_t>(length));
            OPENSSL_free(der);
        }
    }
    long port = 0;
    curl_easy_getinfo(easy_, CURLINFO_PRIMARY_PORT, &port);
    auto trust =
        std::make_shared<ServerTrust>(request_.url().host().value_or(""), std::move(chain));
    observer_->loadDidConnectSecurely(load_, std::move(trust), static_cast<int>(port));
}

void CurlTransfer::endOfHeaders() {
    long status = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || headersDone_) return;  // an interim answer, or the end of trailers
    headersDone_ = true;

    HTTPHeaderFields fields;
    curl_header* previous = nullptr;
    while (curl_header* header = curl_easy_nextheader(easy_, CURLH_HEADER, -1, previous)) {
        addHeaderValue(fields, header->name, header->value);
        previous = header;
    }
    long version = 0;
    curl_easy_getinfo(easy_, CURLINFO_HTTP_VERSION, &version);
    auto response = std::make_shared<HTTPURLResponse>(request_.url(), static_cast<int>(status),
                                                      httpVersionText(version), std::move(fields));

    redirect_ = redirectRequest(request_, *response);
    if (redirect_) {
        redirectResponse_ = std::move(response);
    } else {
        observer_->loadDidReceiveResponse(load_, std::move(response));
    }
}

size_t CurlTransfer::onHeader(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<CurlTransfer*>(self);
    const size_t length = size * count;
    if (t->stopped_) return 0;
    t->touch();
    std::string_view line(data, length);
    if (line == "\r\n" || line == "\n") t->endOfHeaders();
    return t->stopped_ ? 0 : length;
}

size_t CurlTransfer::onWrite(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<CurlTransfer*>(self);
    const size_t length = size * count;
    if (t->stopped_) return 0;
    t->touch();
    if (t->redirect_) {
        if (t->limits_.maximumResponseSize > 0 &&
            t->redirectBody_.length() + length > t->limits_.maximumResponseSize) {
            t->responseTooLarge_ = true;
            return 0;
        }
        t->redirectBody_.append(data, length);
        return length;
    }
    if (!t->observer_->loadDidReceiveData(t->load_, reinterpret_cast<const uint8_t*>(data),
                                          length)) {
        // The task has ended (it failed or was cancelled) and reports that itself.
        t->stopped_ = true;
        return 0;
    }
    return length;
}

size_t CurlTransfer::onRead(char* buffer, size_t size, size_t count, void* self) {
    auto* t = static_cast<CurlTransfer*>(self);
    if (t->stopped_) return CURL_READFUNC_ABORT;
    t->touch();
    size_t room = size * count;
    if (t->bodyFd_ >= 0) {
        ssize_t n = ::pread(t->bodyFd_, buffer, room, static_cast<off_t>(t->bodyOffset_));
        if (n < 0) return CURL_READFUNC_ABORT;
        t->bodyOffset_ += static_cast<uint64_t>(n);
        return static_cast<size_t>(n);
    }
    if (!t->body_.data) return 0;
    size_t left = t->body_.data->length() - static_cast<size_t>(t->bodyOffset_);
    size_t n = std::min(room, left);
    std::memcpy(buffer, t->body_.data->bytes() + t->bodyOffset_, n);
    t->bodyOffset_ += n;
    return n;
}

int CurlTransfer::onSeek(void* self, curl_off_t offset, int origin) {
    auto* t = static_cast<CurlTransfer*>(self);
    if (origin != SEEK_SET || offset < 0 || static_cast<uint64_t>(offset) > t->bodySize_) {
        return CURL_SEEKFUNC_CANTSEEK;
    }
    t->bodyOffset_ = static_cast<uint64_t>(offset);
    return CURL_SEEKFUNC_OK;
}

int CurlTransfer::onProgress(void* self, curl_off_t, curl_off_t dlNow, curl_off_t,
                             curl_off_t ulNow) {
    auto* t = static_cast<CurlTransfer*>(self);
    if (dlNow != t->lastDown_ || ulNow != t->lastUp_) {
        t->lastDown_ = dlNow;
        t->lastUp_ = ulNow;
        t->touch();
    }
    return t->stopped_ ? 1 : 0;
}

int CurlTransfer::onConnected(void* self, char*, char*, int, int) {
    auto* t = static_cast<CurlTransfer*>(self);
    if (t->stopped_) return CURL_PREREQFUNC_ABORT;
    t->touch();
    t->reportTrustIfNew();
    return CURL_PREREQFUNC_OK;
}

CURLcode CurlTransfer::onSSLContext(CURL*, void* sslContext, void* self) {
    auto* t = static_cast<CurlTransfer*>(self);
    t->newTLSConnection_ = true;
    TLSSettings::loadExtraCAFile(SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext)));
    return CURLE_OK;
}

}  // namespace net
