#include "signin/DSHelpers.h"

#include "platform/ns/Format.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/StringComponents.h"
#include "platform/ns/URLComponents.h"
#include "platform/sec/Digest.h"
#include "signin/DSLogger.h"
#include "signin/DSStringHelpers.h"

namespace {

constexpr std::string_view kKDFLabel = "Directory-SecureConversation";
constexpr const char* kClientVersionItem = "x-client-Ver";

}  // namespace

bool DSHelpers::isFDSInstance(const std::optional<std::string>& authority) {
    if (dsIsStringNilOrBlank(authority)) return false;
    return isFDSInstanceURL(ns::URL::parse(ns::asciiLowercased(*authority)));
}

bool DSHelpers::isFDSInstanceURL(const std::optional<ns::URL>& url) {
    if (!url) return false;
    const std::vector<std::string> parts = url->pathComponents();
    return parts.size() >= 2 && parts[1] == "fds";
}

std::optional<std::string> DSHelpers::getEndpointName(const std::optional<std::string>& url) {
    if (dsIsStringNilOrBlank(url)) return std::nullopt;
    std::optional<ns::URL> parsed = ns::URL::parse(ns::asciiLowercased(*url));
    if (!parsed) return std::nullopt;
    const std::vector<std::string> parts = parsed->pathComponents();
    if (parts.size() < 2) return std::nullopt;
    return parts.back();
}

void DSHelpers::removeNullStringFrom(ns::Dictionary& dictionary) {
    for (auto it = dictionary.begin(); it != dictionary.end();) {
        if (ns::format("%@", it->second) == "(null)") {
            it = dictionary.erase(it);
        } else {
            ++it;
        }
    }
}

std::string DSHelpers::convertBase64UrlStringToBase64NSString(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c == '-') c = '+';
        if (c == '_') c = '/';
    }
    if (out.size() % 4 == 3) out += "=";
    if (out.size() % 4 == 2) out += "==";
    return out;
}

ns::Data DSHelpers::convertBase64UrlStringToBase64NSData(std::string_view text) {
    return ns::Data::fromString(convertBase64UrlStringToBase64NSString(text));
}

std::optional<std::string> DSHelpers::JSONFromDictionary(const ns::Dictionary& dictionary) {
    ns::JSONWriteOptions options;
    options.prettyPrinted = true;
    ns::Result<std::string> json = ns::JSONSerialization::write(ns::Value(dictionary), options);
    if (!json) return std::nullopt;
    return *json;
}

ns::Data DSHelpers::updateDataInput(uint8_t counter, std::string_view fixedInput) {
    ns::Data input;
    const uint8_t prefix[4] = {0, 0, 0, counter};
    input.append(prefix, sizeof prefix);
    input.append(fixedInput.data(), fixedInput.size());
    return input;
}

ns::Data DSHelpers::KDFCounterMode(std::string_view key, std::string_view fixedInput) {
    return sec::hmacSHA256(key, updateDataInput(1, fixedInput).chars());
}

ns::Data DSHelpers::computeKDFInCounterMode(const ns::Data& key, const ns::Data& context) {
    ns::Data fixed;
    fixed.append(kKDFLabel.data(), kKDFLabel.size());
    const uint8_t zero = 0;
    fixed.append(&zero, 1);
    fixed.append(context.bytes(), context.length());
    const uint8_t bits[4] = {0x00, 0x00, 0x01, 0x00};  // 256 output bits, big-endian
    fixed.append(bits, sizeof bits);
    return KDFCounterMode(key.chars(), fixed.chars());
}

std::string DSHelpers::createSignedJWTUsingKeyDerivation(const ns::Dictionary& header,
                                                         const ns::Dictionary& payload,
                                                         std::string_view context,
                                                         const ns::Data& symmetricKey) {
    const std::string headerPart = adBase64UrlEncode(JSONFromDictionary(header).value_or(""));
    const std::string payloadPart = adBase64UrlEncode(JSONFromDictionary(payload).value_or(""));
    const std::string signingInput = ns::format("%@.%@", headerPart, payloadPart);
    const ns::Data derived = computeKDFInCounterMode(symmetricKey, ns::Data::fromString(context));
    const ns::Data signature = sec::hmacSHA256(derived.chars(), signingInput);
    return signingInput + "." + Base64EncodeData(signature);
}

std::optional<ns::URL> DSHelpers::addClientVersionToURL(const std::optional<ns::URL>& url) {
    if (!url) return std::nullopt;
    std::optional<ns::URLComponents> parts =
        ns::URLComponents::componentsWithString(url->absoluteString());
    if (!parts) return std::nullopt;
    const std::string version = DSLogger::getSalVersion();
    if (const std::optional<std::string>& query = parts->percentEncodedQuery()) {
        if (query->find(kClientVersionItem) != std::string::npos) return url;
        parts->setPercentEncodedQuery(*query + ns::format("&%@=%@", kClientVersionItem, version));
    } else {
        parts->setPercentEncodedQuery(ns::format("%@=%@", kClientVersionItem, version));
    }
    return parts->url();
}

std::optional<std::string> DSHelpers::addClientVersionToURLString(
    const std::optional<std::string>& url) {
    if (!url) return std::nullopt;
    std::optional<ns::URL> result = addClientVersionToURL(ns::URL::parse(*url));
    if (!result) return std::nullopt;
    return result->absoluteString();
}
