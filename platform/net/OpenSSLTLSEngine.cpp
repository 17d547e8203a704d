#include "platform/net/OpenSSLTLSEngine.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <climits>
#include <utility>

#include "platform/net/Stream.h"
#include "platform/net/TLSSettings.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/Log.h"
#include "platform/rt/ModuleLoader.h"

namespace net {

namespace {

[[maybe_unused]] const bool kAnnounced = [] {
    rt::ModuleLoader::shared().announce(TLSEngine::kClassName,
                                        [] { return std::make_shared<OpenSSLTLSEngine>(); });
    return true;
}();

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
struct StackFree {
    void operator()(STACK_OF(X509) * s) const { sk_X509_pop_free(s, X509_free); }
};
struct StoreFree {
    void operator()(X509_STORE* s) const { X509_STORE_free(s); }
};
struct StoreCtxFree {
    void operator()(X509_STORE_CTX* c) const { X509_STORE_CTX_free(c); }
};
struct ContextFree {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct SessionFree {
    void operator()(SSL* s) const { SSL_free(s); }
};

bool isIPAddress(const std::string& host) {
    unsigned char buf[16];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// The system's authorities and the extra file's. When the extra file is set but cannot be read
// the store holds the system's only.
void loadTrustAnchors(X509_STORE* store) {
    X509_STORE_set_default_paths(store);
    const std::string extra = TLSSettings::extraCAFile();
    if (extra.empty() || X509_STORE_load_file(store, extra.c_str()) == 1) return;
    ns::Log::write(ns::LogLevel::Error, "net", "tls",
                   "Cannot load the extra certificate authorities from " + extra);
}

ns::Error setUpFailure() {
    return secureStreamError(kSSLProtocolError, "Cannot set up a secure connection.");
}

std::unique_ptr<X509, X509Free> decode(const ns::Data& der) {
    const unsigned char* p = der.bytes();
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.length()));
    if (cert && p != der.bytes() + der.length()) {
        X509_free(cert);
        return nullptr;
    }
    return std::unique_ptr<X509, X509Free>(cert);
}

ns::Error paramError(const char* why) {
    return ns::Error(kOSStatusErrorDomain, kSecParamError,
                     {{ns::kLocalizedDescriptionKey, std::string(why)}});
}

class OpenSSLSession final : public TLSSession {
public:
    OpenSSLSession(std::unique_ptr<SSL_CTX, ContextFree> context,
                   std::unique_ptr<SSL, SessionFree> ssl)
        : context_(std::move(context)), ssl_(std::move(ssl)) {}

    Outcome handshake() override {
        ERR_clear_error();
        const int result = SSL_do_handshake(ssl_.get());
        if (result == 1) return Outcome::Done;
        const int error = SSL_get_error(ssl_.get(), result);
        if (error == SSL_ERROR_WANT_READ) return Outcome::WantsRead;
        if (error == SSL_ERROR_WANT_WRITE) return Outcome::WantsWrite;
        error_ = handshakeError();
        return Outcome::Failed;
    }

    Outcome read(uint8_t* buffer, size_t length, size_t& moved) override {
        ERR_clear_error();
        const int n =
            SSL_read(ssl_.get(), buffer, static_cast<int>(std::min<size_t>(length, INT_MAX)));
        return outcomeOf(n, moved, ECONNRESET);
    }

    Outcome write(const uint8_t* bytes, size_t length, size_t& moved) override {
        ERR_clear_error();
        const int n =
            SSL_write(ssl_.get(), bytes, static_cast<int>(std::min<size_t>(length, INT_MAX)));
        return outcomeOf(n, moved, EPIPE);
    }

    void close() override {
        ERR_clear_error();
        SSL_shutdown(ssl_.get());
    }

    ns::Error error() const override { return error_; }

private:
    // A read or write's result; `fallbackErrno` when the failure names no cause.
    Outcome outcomeOf(int n, size_t& moved, int fallbackErrno) {
        if (n > 0) {
            moved = static_cast<size_t>(n);
            return Outcome::Done;
        }
        const int savedErrno = errno;
        const int error = SSL_get_error(ssl_.get(), n);
        if (error == SSL_ERROR_WANT_READ) return Outcome::WantsRead;
        if (error == SSL_ERROR_WANT_WRITE) return Outcome::WantsWrite;
        // Said for an ended session too: a write to it fails with this.
        error_ = sessionError(error, savedErrno, fallbackErrno);
        return error == SSL_ERROR_ZERO_RETURN ? Outcome::Ended : Outcome::Failed;
    }

    // Why the handshake failed.
    ns::Error handshakeError() const {
        const long verify = SSL_get_verify_result(ssl_.get());
        if (verify != X509_V_OK) {
            int64_t code = kSSLCertificateChainInvalid;
            if (verify == X509_V_ERR_HOSTNAME_MISMATCH ||
                verify == X509_V_ERR_IP_ADDRESS_MISMATCH) {
                code = kSSLHostNameMismatch;
            } else if (verify == X509_V_ERR_CERT_HAS_EXPIRED) {
                code = kSSLCertificateExpired;
            }
            return secureStreamError(code, "The certificate for this server is invalid.",
                                     X509_verify_cert_error_string(verify));
        }
        const unsigned long queued = ERR_peek_last_error();
        if (queued != 0 && ERR_GET_LIB(queued) == ERR_LIB_SYS) {
            return ns::posixError(ERR_GET_REASON(queued));
        }
        if (queued == 0) {
            return secureStreamError(kSSLClosedAbort,
                                     "The connection closed during the secure handshake.");
        }
        char text[256];
        ERR_error_string_n(queued, text, sizeof text);
        return secureStreamError(kSSLProtocolError, "A secure connection could not be made.", text);
    }

    // Why a read or write of the open session failed (the socket's error when there is one).
    static ns::Error sessionError(int sslError, int savedErrno, int fallbackErrno) {
        const unsigned long queued = ERR_peek_last_error();
        if (sslError == SSL_ERROR_SSL && queued != 0 && ERR_GET_LIB(queued) != ERR_LIB_SYS) {
            char text[256];
            ERR_error_string_n(queued, text, sizeof text);
            return secureStreamError(kSSLProtocolError, "The secure connection failed.", text);
        }
        if (queued != 0 && ERR_GET_LIB(queued) == ERR_LIB_SYS) {
            return ns::posixError(ERR_GET_REASON(queued));
        }
        return ns::posixError(savedErrno ? savedErrno : fallbackErrno);
    }

    std::unique_ptr<SSL_CTX, ContextFree> context_;
    std::unique_ptr<SSL, SessionFree> ssl_;
    ns::Error error_ = setUpFailure();
};

}  // namespace

ns::Result<std::unique_ptr<TLSSession>> OpenSSLTLSEngine::clientSession(
    int fd, const std::string& host) const {
    std::unique_ptr<SSL_CTX, ContextFree> context(SSL_CTX_new(TLS_client_method()));
    if (!context) return setUpFailure();
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    // A peer that drops the connection without a closing alert has simply ended the stream.
    SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    loadTrustAnchors(SSL_CTX_get_cert_store(context.get()));
    std::unique_ptr<SSL, SessionFree> ssl(SSL_new(context.get()));
    // Without the name to check the certificate against, any trusted certificate would do: a
    // connection whose name cannot be set (none, a NUL inside, no memory) is not made.
    bool named = ssl && SSL_set_fd(ssl.get(), fd) == 1 && !host.empty() &&
                 host.find('\0') == std::string::npos;
    if (named && isIPAddress(host)) {
        named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), host.c_str()) == 1;
    } else if (named) {
        named = SSL_set_tlsext_host_name(ssl.get(), host.c_str()) == 1 &&
                SSL_set1_host(ssl.get(), host.c_str()) == 1;
    }
    if (!named) return setUpFailure();
    SSL_set_mode(ssl.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_set_connect_state(ssl.get());
    return std::unique_ptr<TLSSession>(
        std::make_unique<OpenSSLSession>(std::move(context), std::move(ssl)));
}

ns::Result<TrustResultType> OpenSSLTLSEngine::evaluate(const ServerTrust& trust) const {
    const auto& certificates = trust.certificates();
    if (certificates.empty()) return paramError("The trust holds no certificate.");
    auto leaf = decode(certificates.front());
    if (!leaf) return paramError("The server's certificate cannot be read.");
    std::unique_ptr<STACK_OF(X509), StackFree> intermediates(sk_X509_new_null());
    for (size_t i = 1; i < certificates.size(); ++i) {
        auto cert = decode(certificates[i]);
        if (!cert) return paramError("A certificate of the chain cannot be read.");
        sk_X509_push(intermediates.get(), cert.release());
    }

    std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
    loadTrustAnchors(store.get());
    std::unique_ptr<X509_STORE_CTX, StoreCtxFree> ctx(X509_STORE_CTX_new());
    if (!X509_STORE_CTX_init(ctx.get(), store.get(), leaf.get(), intermediates.get())) {
        return TrustResultType::OtherError;
    }
    X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_SSL_SERVER);
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
    const std::string& host = trust.host();
    if (isIPAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
    }
    return X509_verify_cert(ctx.get()) == 1 ? TrustResultType::Unspecified
                                            : TrustResultType::RecoverableTrustFailure;
}

}  // namespace net
