#include "services/peers/RegistrationPeer.h"

#include <openssl/decoder.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <memory>

#include "platform/ns/Data.h"

namespace peers {

namespace {

struct PKeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};

}  // namespace

RegistrationPeer::RegistrationPeer(HttpsServer& server) : server_(server) {
    answers_.push_back(token(""));
    frontUsed_ = true;
    server_.on("POST", "/iid/register",
               [this](const HttpRequest& request) { return handle(request); });
}

void RegistrationPeer::answer(Answer answer) {
    dispatch::Lock lock(mutex_);
    // Once every earlier answer has been used, the one that stayed is replaced.
    if (answers_.size() == 1 && frontUsed_) answers_.clear();
    frontUsed_ = false;
    answers_.push_back(std::move(answer));
}

RegistrationPeer::Answer RegistrationPeer::token(std::string token,
                                                 std::optional<std::string> iidAuth) {
    return [token, iidAuth](const RegistrationRequest& request) {
        std::string value = token.empty() ? "tok-" + request.field("X-kid") : token;
        HttpResponse response =
            HttpResponse::text(200, "token=" + request.field("X-kid") + ":" + value);
        if (iidAuth) response.header("X-iid-auth", *iidAuth);
        return response;
    };
}

RegistrationPeer::Answer RegistrationPeer::text(std::string body, int status) {
    return [body, status](const RegistrationRequest&) { return HttpResponse::text(status, body); };
}

RegistrationPeer::Answer RegistrationPeer::hang() {
    return [](const RegistrationRequest&) { return HttpResponse::hang(); };
}

void RegistrationPeer::expectAuthorization(std::string credential) {
    dispatch::Lock lock(mutex_);
    expectedCredential_ = std::move(credential);
}

std::vector<RegistrationRequest> RegistrationPeer::requests() const {
    dispatch::Lock lock(mutex_);
    return requests_;
}

size_t RegistrationPeer::count() const {
    dispatch::Lock lock(mutex_);
    return requests_.size();
}

std::vector<std::string> RegistrationPeer::problems() const {
    dispatch::Lock lock(mutex_);
    std::vector<std::string> all;
    for (size_t i = 0; i < requests_.size(); ++i) {
        for (const auto& problem : requests_[i].problems) {
            all.push_back("request " + std::to_string(i) + ": " + problem);
        }
    }
    return all;
}

HttpResponse RegistrationPeer::handle(const HttpRequest& http) {
    RegistrationRequest request;
    request.authorization = http.header("Authorization").value_or("");
    request.app = http.header("app").value_or("");
    request.info = http.header("info").value_or("");
    std::string_view body = http.body;
    while (!body.empty()) {
        auto amp = body.find('&');
        std::string_view pair = body.substr(0, amp);
        auto eq = pair.find('=');
        if (eq == std::string_view::npos) {
            request.fields[std::string(pair)] = "";
        } else {
            request.fields[std::string(pair.substr(0, eq))] = std::string(pair.substr(eq + 1));
        }
        if (amp == std::string_view::npos) break;
        body.remove_prefix(amp + 1);
    }
    Answer answer;
    {
        dispatch::Lock lock(mutex_);
        check(request);
        requests_.push_back(request);
        answer = answers_.front();
        if (answers_.size() > 1) {
            answers_.pop_front();
        } else {
            frontUsed_ = true;
        }
    }
    return answer(request);
}

void RegistrationPeer::check(RegistrationRequest& request) {
    auto& problems = request.problems;
    if (request.authorization.rfind("AidLogin ", 0) != 0) problems.push_back("no AidLogin header");
    if (!expectedCredential_.empty() &&
        request.authorization != "AidLogin " + expectedCredential_) {
        problems.push_back("authorization " + request.authorization);
    }
    uint64_t kid = std::strtoull(request.field("X-kid").c_str(), nullptr, 10);
    if (lastKid_ && kid != *lastKid_ + 1) problems.push_back("X-kid out of sequence");
    lastKid_ = kid;
    if (!request.fields.count("pub2")) {
        if (!(request.isDelete() && request.field("X-scope") == "ncm"))
            problems.push_back("no pub2");
        return;
    }
    std::string pub2 = request.field("pub2");
    for (size_t at = 64; at < pub2.size(); at += 66) {
        if (pub2.compare(at, 2, "\r\n") != 0) {
            problems.push_back("pub2 lines are not 64 columns joined by CR LF");
            break;
        }
    }
    std::string der = decodeBase64(pub2, false);
    if (request.field("appid") != appIDForPublicKey(der)) {
        problems.push_back("appid does not derive from pub2");
    }
    if (auto problem = signatureProblem(der, request.app + "\n" + pub2,
                                        decodeBase64(request.field("sig"), true))) {
        problems.push_back(*problem);
    }
}

std::string RegistrationPeer::appIDForPublicKey(const std::string& der) {
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(der.data()), der.size(), digest);
    digest[0] = static_cast<unsigned char>((digest[0] & 0x0F) | 0x70);
    return ns::Data(digest, 8).base64URLEncodedString();
}

std::string RegistrationPeer::decodeBase64(const std::string& text, bool webSafe) {
    std::string cleaned;
    for (char c : text) {
        if (c == '\r' || c == '\n') continue;
        if (webSafe && c == '-') c = '+';
        if (webSafe && c == '_') c = '/';
        cleaned += c;
    }
    while (cleaned.size() % 4) cleaned += '=';
    const auto data = ns::Data::fromBase64(cleaned);
    return data ? std::string(data->chars()) : std::string();
}

std::optional<std::string> RegistrationPeer::signatureProblem(const std::string& der,
                                                              const std::string& signedText,
                                                              const std::string& signature) {
    EVP_PKEY* decoded = nullptr;
    OSSL_DECODER_CTX* decoder = OSSL_DECODER_CTX_new_for_pkey(
        &decoded, "DER", "type-specific", "RSA", EVP_PKEY_PUBLIC_KEY, nullptr, nullptr);
    const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
    size_t remaining = der.size();
    bool ok =
        decoder && OSSL_DECODER_from_data(decoder, &cursor, &remaining) == 1 && remaining == 0;
    OSSL_DECODER_CTX_free(decoder);
    std::unique_ptr<EVP_PKEY, PKeyFree> key(decoded);
    if (!ok || !key) return "pub2 is no PKCS#1 RSAPublicKey";
    const size_t block = static_cast<size_t>(EVP_PKEY_get_size(key.get()));
    size_t blocks = (signedText.size() + block - 1) / block;
    if (blocks == 0 || signature.size() != blocks * block) {
        return "sig has " + std::to_string(signature.size()) + " bytes";
    }
    for (size_t i = 0; i < blocks; ++i) {
        std::unique_ptr<EVP_PKEY_CTX, CtxFree> ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
        std::string recovered(block, '\0');
        size_t length = block;
        if (EVP_PKEY_verify_recover_init(ctx.get()) <= 0 ||
            EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) <= 0 ||
            EVP_PKEY_verify_recover(
                ctx.get(), reinterpret_cast<unsigned char*>(recovered.data()), &length,
                reinterpret_cast<const unsigned char*>(signature.data()) + i * block, block) <= 0) {
            return "sig block " + std::to_string(i) + " does not verify";
        }
        std::string chunk = signedText.substr(i * block, block);
        std::string expected = std::string(block - chunk.size(), '\0') + chunk;
        // The recovered number may come back without its leading zero bytes.
        std::string got = std::string(block - length, '\0') + recovered.substr(0, length);
        if (got != expected) return "sig block " + std::to_string(i) + " signs other bytes";
    }
    return std::nullopt;
}

}  // namespace peers
