#include "platform/net/ServerTrust.h"

#include <arpa/inet.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

#include "platform/net/TLSSettings.h"

namespace net {

namespace {

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

std::unique_ptr<X509, X509Free> decode(const ns::Data& der) {
    const unsigned char* p = der.bytes();
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.length()));
    if (cert && p != der.bytes() + der.length()) {
        X509_free(cert);
        return nullptr;
    }
    return std::unique_ptr<X509, X509Free>(cert);
}

bool isIPAddress(const std::string& host) {
    unsigned char buf[16];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

ns::Error paramError(const char* why) {
    return ns::Error(kOSStatusErrorDomain, kSecParamError,
                     {{ns::kLocalizedDescriptionKey, std::string(why)}});
}

}  // namespace

ServerTrust::ServerTrust(std::string host, std::vector<ns::Data> certificates)
    : host_(std::move(host)), certificates_(std::move(certificates)) {}

ns::Result<TrustResultType> ServerTrust::evaluate() const {
    if (certificates_.empty()) return paramError("The trust holds no certificate.");
    auto leaf = decode(certificates_.front());
    if (!leaf) return paramError("The server's certificate cannot be read.");
    std::unique_ptr<STACK_OF(X509), StackFree> intermediates(sk_X509_new_null());
    for (size_t i = 1; i < certificates_.size(); ++i) {
        auto cert = decode(certificates_[i]);
        if (!cert) return paramError("A certificate of the chain cannot be read.");
        sk_X509_push(intermediates.get(), cert.release());
    }

    std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
    TLSSettings::loadTrustAnchors(store.get());
    std::unique_ptr<X509_STORE_CTX, StoreCtxFree> ctx(X509_STORE_CTX_new());
    if (!X509_STORE_CTX_init(ctx.get(), store.get(), leaf.get(), intermediates.get())) {
        return TrustResultType::OtherError;
    }
    X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_SSL_SERVER);
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
    if (isIPAddress(host_)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host_.c_str());
    } else {
        X509_VERIFY_PARAM_set1_host(param, host_.c_str(), host_.size());
    }
    return X509_verify_cert(ctx.get()) == 1 ? TrustResultType::Unspecified
                                            : TrustResultType::RecoverableTrustFailure;
}

}  // namespace net
