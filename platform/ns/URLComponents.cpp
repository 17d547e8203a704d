#include "platform/ns/URLComponents.h"

#include <arpa/inet.h>

#include "platform/ns/CharacterSet.h"
#include "platform/ns/PercentEncoding.h"
#include "platform/ns/URL.h"

namespace ns {

namespace {

bool isAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHex(char c) {
    return isDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Legal characters, with every "%" starting a two-digit escape.
bool hasOnlyURLCharacters(std::string_view s) {
    const CharacterSet& legal = CharacterSet::URLLegalCharacterSet();
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%') {
            if (s.size() - i < 3 || !isHex(s[i + 1]) || !isHex(s[i + 2])) return false;
            i += 2;
        } else if (!legal.characterIsMember(static_cast<unsigned char>(s[i]))) {
            return false;
        }
    }
    return true;
}

// The length of a valid scheme followed by ":", or 0 when the text does not start with one.
size_t schemeLength(std::string_view s) {
    if (s.empty() || !isAlpha(s[0])) return 0;
    size_t i = 1;
    while (i < s.size() &&
           (isAlpha(s[i]) || isDigit(s[i]) || s[i] == '+' || s[i] == '-' || s[i] == '.'))
        ++i;
    return i < s.size() && s[i] == ':' ? i : 0;
}

bool containsAny(std::string_view s, std::string_view chars) {
    return s.find_first_of(chars) != std::string_view::npos;
}

bool isIPvFuture(std::string_view s) {
    if (s.size() < 4 || (s[0] != 'v' && s[0] != 'V')) return false;
    size_t dot = s.find('.');
    if (dot == std::string_view::npos || dot < 2 || dot + 1 == s.size()) return false;
    for (size_t i = 1; i < dot; ++i)
        if (!isHex(s[i])) return false;
    static const CharacterSet allowed = [] {
        CharacterSet set = CharacterSet::URLUserAllowedCharacterSet();
        set.addCharactersInString(":");
        return set;
    }();
    for (size_t i = dot + 1; i < s.size(); ++i)
        if (!allowed.characterIsMember(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

bool isIPLiteral(std::string_view s) {
    if (isIPvFuture(s)) return true;
    if (s.size() > 45) return false;  // longer than any textual IPv6 address
    in6_addr addr;
    return inet_pton(AF_INET6, std::string(s).c_str(), &addr) == 1;
}

// Digits only, value at most 65535 (leading zeros allowed); an empty port is no port.
bool isValidPort(std::string_view s) {
    long value = 0;
    for (char c : s) {
        if (!isDigit(c)) return false;
        value = value * 10 + (c - '0');
        if (value > 65535) return false;
    }
    return true;
}

bool parseAuthority(std::string_view authority, std::optional<std::string>& user,
                    std::optional<std::string>& password, std::optional<std::string>& host,
                    std::optional<std::string>& portText) {
    std::string_view hostPort = authority;
    size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        std::string_view userInfo = authority.substr(0, at);
        if (containsAny(userInfo, "@[]")) return false;
        hostPort = authority.substr(at + 1);
        size_t colon = userInfo.find(':');
        user = std::string(userInfo.substr(0, colon));
        if (colon != std::string_view::npos) password = std::string(userInfo.substr(colon + 1));
    }
    std::string_view hostPart, afterHost;
    if (!hostPort.empty() && hostPort[0] == '[') {
        size_t close = hostPort.find(']');
        if (close == std::string_view::npos || !isIPLiteral(hostPort.substr(1, close - 1)))
            return false;
        hostPart = hostPort.substr(0, close + 1);
        afterHost = hostPort.substr(close + 1);
        if (!afterHost.empty() && afterHost[0] != ':') return false;
    } else {
        size_t colon = hostPort.find(':');
        hostPart = hostPort.substr(0, colon);
        if (colon != std::string_view::npos) afterHost = hostPort.substr(colon);
        if (containsAny(hostPart, "[]")) return false;
    }
    if (!afterHost.empty()) {
        std::string_view port = afterHost.substr(1);
        if (!isValidPort(port)) return false;
        portText = std::string(port);
    }
    host = std::string(hostPart);
    return true;
}

std::string_view firstSegment(std::string_view path) {
    return path.substr(0, path.find('/'));
}

std::string decodedOrRaw(std::string_view s) {
    auto decoded = percentDecode(s);
    return decoded ? std::move(*decoded) : std::string(s);
}

}  // namespace

URLComponents::URLComponents(const URL& url) : URLComponents(url.parts_) {}

std::optional<URLComponents> URLComponents::componentsWithString(std::string_view text) {
    if (!hasOnlyURLCharacters(text)) return std::nullopt;
    URLComponents c;
    std::string_view rest = text;
    if (size_t length = schemeLength(text)) {
        c.scheme_ = std::string(text.substr(0, length));
        rest.remove_prefix(length + 1);
    }
    if (size_t hash = rest.find('#'); hash != std::string_view::npos) {
        c.fragment_ = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    if (size_t question = rest.find('?'); question != std::string_view::npos) {
        c.query_ = std::string(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }
    if (rest.starts_with("//")) {
        size_t slash = rest.find('/', 2);
        std::string_view authority = rest.substr(2, slash - 2);
        if (!parseAuthority(authority, c.user_, c.password_, c.host_, c.portText_))
            return std::nullopt;
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
    }
    // Without a scheme, a colon in the first segment would make it one.
    if (!c.scheme_ && !c.host_ && firstSegment(rest).find(':') != std::string_view::npos)
        return std::nullopt;
    c.path_ = std::string(rest);
    return c;
}

std::optional<int> URLComponents::port() const {
    if (!portText_ || portText_->empty()) return std::nullopt;
    return std::stoi(*portText_);
}

std::optional<std::vector<URLQueryItem>> URLComponents::queryItems() const {
    if (!query_) return std::nullopt;
    std::vector<URLQueryItem> items;
    if (query_->empty()) return items;
    std::string_view rest = *query_;
    while (true) {
        size_t amp = rest.find('&');
        std::string_view piece = rest.substr(0, amp);
        size_t eq = piece.find('=');
        URLQueryItem item{decodedOrRaw(piece.substr(0, eq)), std::nullopt};
        if (eq != std::string_view::npos) item.value = decodedOrRaw(piece.substr(eq + 1));
        items.push_back(std::move(item));
        if (amp == std::string_view::npos) break;
        rest.remove_prefix(amp + 1);
    }
    return items;
}

std::string URLComponents::string() const {
    std::string out;
    if (scheme_) out += *scheme_ + ":";
    if (host_) {
        out += "//";
        if (user_ || password_) {
            out += user_.value_or("");
            if (password_) out += ":" + *password_;
            out += "@";
        }
        out += *host_;
        if (portText_) out += ":" + *portText_;
        if (!path_.empty() && path_[0] != '/') out += "/";
    } else if (path_.starts_with("//")) {
        out += "/.";
    } else if (!scheme_ && firstSegment(path_).find(':') != std::string::npos) {
        out += "./";
    }
    out += path_;
    if (query_) out += "?" + *query_;
    if (fragment_) out += "#" + *fragment_;
    return out;
}

std::optional<URL> URLComponents::url() const {
    return URL::parse(string());
}

}  // namespace ns
