#include "services/peers/TestCA.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace peers {

namespace {

struct PKeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
using PKey = std::unique_ptr<EVP_PKEY, PKeyFree>;
using Cert = std::unique_ptr<X509, X509Free>;
using Bio = std::unique_ptr<BIO, BioFree>;

std::atomic<long> nextSerial{1};

void require(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("TestCA: ") + what);
}

PKey makeKey() {
    PKey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    require(key != nullptr, "key generation failed");
    return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    require(ext != nullptr, "bad extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

Cert makeCertificate(const std::string& commonName, EVP_PKEY* key, X509* issuer, bool expired) {
    Cert cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), nextSerial++);
    const long day = 24 * 3600;
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), expired ? -2 * day : -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), expired ? -day : day);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
    return cert;
}

std::string pemOf(X509* cert) {
    Bio bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), cert);
    char* data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

std::string pemOf(EVP_PKEY* key) {
    Bio bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

}  // namespace

struct TestCA::Keys {
    PKey key;
    Cert cert;
};

std::shared_ptr<SSL_CTX> ServerIdentity::makeServerContext() const {
    std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    require(context != nullptr, "SSL_CTX_new failed");
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    Bio certBio(BIO_new_mem_buf(certificatePEM.data(), static_cast<int>(certificatePEM.size())));
    Cert cert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    Bio keyBio(BIO_new_mem_buf(privateKeyPEM.data(), static_cast<int>(privateKeyPEM.size())));
    PKey key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    require(cert && key, "unreadable identity");
    require(SSL_CTX_use_certificate(context.get(), cert.get()) == 1 &&
                SSL_CTX_use_PrivateKey(context.get(), key.get()) == 1,
            "identity rejected");
    return context;
}

TestCA::TestCA(std::string commonName) : keys_(std::make_unique<Keys>()) {
    keys_->key = makeKey();
    keys_->cert = makeCertificate(commonName, keys_->key.get(), nullptr, false);
    addExtension(keys_->cert.get(), keys_->cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(keys_->cert.get(), keys_->cert.get(), NID_key_usage,
                 "critical,keyCertSign,cRLSign");
    addExtension(keys_->cert.get(), keys_->cert.get(), NID_subject_key_identifier, "hash");
    require(X509_sign(keys_->cert.get(), keys_->key.get(), EVP_sha256()) > 0, "signing failed");
    caPEM_ = pemOf(keys_->cert.get());

    std::string pattern = (std::filesystem::temp_directory_path() / "peers-ca-XXXXXX").string();
    require(::mkdtemp(pattern.data()) != nullptr, "mkdtemp failed");
    directory_ = pattern;
    caFile_ = directory_ + "/ca.pem";
    std::ofstream(caFile_) << caPEM_;
}

TestCA::~TestCA() {
    std::error_code ec;
    std::filesystem::remove_all(directory_, ec);
}

ServerIdentity TestCA::issue(const std::vector<std::string>& dnsNames,
                             const std::vector<std::string>& ipAddresses, bool expired) const {
    PKey key = makeKey();
    std::string commonName = dnsNames.empty() ? "server" : dnsNames.front();
    Cert cert = makeCertificate(commonName, key.get(), keys_->cert.get(), expired);
    std::string altNames;
    for (const auto& dns : dnsNames) altNames += (altNames.empty() ? "DNS:" : ",DNS:") + dns;
    for (const auto& ip : ipAddresses) altNames += (altNames.empty() ? "IP:" : ",IP:") + ip;
    addExtension(cert.get(), keys_->cert.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(cert.get(), keys_->cert.get(), NID_key_usage, "critical,digitalSignature");
    addExtension(cert.get(), keys_->cert.get(), NID_ext_key_usage, "serverAuth");
    addExtension(cert.get(), keys_->cert.get(), NID_authority_key_identifier, "keyid:always");
    if (!altNames.empty())
        addExtension(cert.get(), keys_->cert.get(), NID_subject_alt_name, altNames);
    require(X509_sign(cert.get(), keys_->key.get(), EVP_sha256()) > 0, "signing failed");
    return ServerIdentity{pemOf(cert.get()), pemOf(key.get())};
}

const ServerIdentity& TestCA::localhost() const {
    if (!localhost_) {
        localhost_ = std::make_unique<ServerIdentity>(issue({"localhost"}, {"127.0.0.1"}));
    }
    return *localhost_;
}

}  // namespace peers
