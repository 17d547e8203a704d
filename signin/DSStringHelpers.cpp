#include "signin/DSStringHelpers.h"

#include <algorithm>

#include "platform/ns/PercentEncoding.h"
#include "platform/ns/StringComponents.h"
#include "platform/ns/UTF8.h"
#include "platform/sec/Digest.h"

bool dsIsStringNilOrBlank(std::string_view text) {
    return ns::trimmedWhitespace(text).empty();
}

bool dsIsStringNilOrBlank(const std::optional<std::string>& text) {
    return !text || dsIsStringNilOrBlank(std::string_view(*text));
}

std::string dsTrimmedString(std::string_view text) {
    return std::string(ns::trimmedWhitespace(text));
}

std::string adBase64UrlEncodeData(std::string_view bytes) {
    return ns::Data(bytes.data(), bytes.size()).base64URLEncodedString();
}

std::string adBase64UrlEncode(std::string_view text) {
    return adBase64UrlEncodeData(text);
}

std::optional<std::string> adBase64UrlDecode(std::string_view text) {
    std::string standard(text);
    for (char& c : standard) {
        if (c == '-')
            c = '+';
        else if (c == '_')
            c = '/';
        else if (c == '+' || c == '/')
            return std::nullopt;  // not of the URL-safe alphabet
    }
    while (!standard.empty() && standard.back() == '=') standard.pop_back();
    if (standard.size() % 4 == 1) return std::nullopt;
    while (standard.size() % 4 != 0) standard.push_back('=');
    std::optional<ns::Data> data = ns::Data::fromBase64(standard);
    if (!data) return std::nullopt;
    std::string decoded(data->chars());
    if (!ns::utf8::isValid(decoded)) return std::nullopt;
    return decoded;
}

std::string dsComputeSHA256(std::string_view text) {
    return sec::hexString(sec::sha256(text));
}

std::string Base64EncodeData(const ns::Data& data) {
    return data.base64EncodedString();
}

namespace {

std::string formEscape(std::string_view text) {
    return ns::percentEncode(text, ns::formUnreservedCharacterSet());
}

}  // namespace

std::string dsURLFormEncode(const std::map<std::string, std::string>& pairs) {
    return dsURLFormEncodePairs(DSFormPairs(pairs.begin(), pairs.end()));
}

std::string dsURLFormEncodePairs(const DSFormPairs& pairs) {
    std::string out;
    for (const auto& [name, value] : pairs) {
        if (!out.empty()) out.push_back('&');
        out += formEscape(name) + "=" + formEscape(value);
    }
    return out;
}

DSFormPairs dsURLFormDecode(std::string_view text) {
    auto decode = [](std::string_view piece) {
        std::string plus(piece);
        std::replace(plus.begin(), plus.end(), '+', ' ');
        return ns::percentDecodeOrKeep(plus);
    };
    DSFormPairs pairs;
    for (std::string_view piece : ns::componentsSeparatedByCharacter(text, '&')) {
        if (piece.empty()) continue;
        const size_t eq = piece.find('=');
        if (eq == std::string_view::npos) {
            pairs.emplace_back(decode(piece), "");
        } else {
            pairs.emplace_back(decode(piece.substr(0, eq)), decode(piece.substr(eq + 1)));
        }
    }
    return pairs;
}

bool dsSame(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    return a == b;
}

std::optional<std::string> dsWithoutUserInfo(const std::optional<std::string>& url) {
    if (!url) return url;
    const size_t scheme = url->find("://");
    if (scheme == std::string::npos) return url;
    const size_t start = scheme + 3;
    const size_t end = std::min(url->find_first_of("/?#", start), url->size());
    const size_t at = url->rfind('@', end == 0 ? 0 : end - 1);
    if (at == std::string::npos || at < start) return url;
    return url->substr(0, start) + url->substr(at + 1);
}
