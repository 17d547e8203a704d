#include "bridge/HYBWhitelistPattern.h"

#include "platform/ns/UTF8.h"

namespace {

constexpr uint32_t kWildcard = 0xFFFFFFFF;
// Bytes that are not part of well-formed UTF-8 become values above every code point, so that
// they match only the same byte.
constexpr uint32_t kRawByteBase = 0x110000;

bool isLineTerminator(uint32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

std::vector<uint32_t> codePoints(std::string_view text) {
    std::vector<uint32_t> out;
    out.reserve(text.size());
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    const auto end = p + text.size();
    while (p < end) {
        const size_t n = ns::utf8::sequenceLength(p, end);
        if (n == 0) {
            out.push_back(kRawByteBase + *p++);
            continue;
        }
        uint32_t c = n == 1 ? p[0] : p[0] & (0x7F >> n);
        for (size_t i = 1; i < n; ++i) c = (c << 6) | (p[i] & 0x3F);
        out.push_back(c);
        p += n;
    }
    return out;
}

std::vector<uint32_t> globTokens(std::string_view pattern) {
    std::vector<uint32_t> tokens = codePoints(pattern);
    for (auto& t : tokens) {
        if (t == '*') t = kWildcard;
    }
    return tokens;
}

// Simulates the pattern as a set of positions reached so far: one pass over the text, each
// step touching every position at most once.
bool globMatches(const std::vector<uint32_t>& tokens, const std::vector<uint32_t>& text) {
    const size_t m = tokens.size();
    std::vector<char> states(m + 1, 0), next(m + 1, 0);
    auto close = [&](std::vector<char>& s) {
        for (size_t i = 0; i < m; ++i) {
            if (s[i] && tokens[i] == kWildcard) s[i + 1] = 1;
        }
    };
    states[0] = 1;
    close(states);
    for (uint32_t c : text) {
        std::fill(next.begin(), next.end(), 0);
        bool any = false;
        for (size_t i = 0; i < m; ++i) {
            if (!states[i]) continue;
            if (tokens[i] == kWildcard) {
                if (!isLineTerminator(c)) next[i] = any = true;
            } else if (tokens[i] == c) {
                next[i + 1] = any = true;
            }
        }
        if (!any) return false;
        close(next);
        states.swap(next);
    }
    return states[m] != 0;
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    }
    return true;
}

bool isSubdomainLabelChar(char c) {
    c = asciiLower(c);
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

}  // namespace

HYBWhitelistPattern::HYBWhitelistPattern(std::optional<std::string> scheme,
                                         std::optional<std::string> host, std::optional<int> port,
                                         std::optional<std::string> path)
    : port_(port) {
    if (scheme && *scheme != "*") scheme_ = std::move(scheme);
    if (host && *host != "*") {
        Host rule;
        if (host->starts_with("*.")) {
            rule.withSubdomains = true;
            rule.name = host->substr(2);
        } else {
            rule.name = std::move(*host);
        }
        host_ = std::move(rule);
    }
    if (path && *path != "/*") {
        PathGlob glob{globTokens(*path), std::nullopt};
        if (path->ends_with("/*")) {
            glob.folderTokens = globTokens(std::string_view(*path).substr(0, path->size() - 2));
        }
        path_ = std::move(glob);
    }
}

bool HYBWhitelistPattern::matches(const ns::URL& url) const {
    if (scheme_ && !(url.scheme() && equalsIgnoringCase(*url.scheme(), *scheme_))) return false;
    if (host_) {
        const auto host = url.host();
        if (!host || !hostMatches(*host)) return false;
    }
    if (port_ && url.port() != port_) return false;
    return !path_ || pathMatches(url.path());
}

bool HYBWhitelistPattern::hostMatches(std::string_view host) const {
    const std::string& name = host_->name;
    if (equalsIgnoringCase(host, name)) return true;
    if (!host_->withSubdomains || host.size() <= name.size()) return false;
    // "label." in front of the name, the labels made of letters, digits, dots and hyphens.
    const size_t split = host.size() - name.size();
    if (host[split - 1] != '.' || !equalsIgnoringCase(host.substr(split), name)) return false;
    for (size_t i = 0; i + 1 < split; ++i) {
        if (!isSubdomainLabelChar(host[i])) return false;
    }
    return true;
}

bool HYBWhitelistPattern::pathMatches(std::string_view path) const {
    const auto text = codePoints(path);
    if (globMatches(path_->tokens, text)) return true;
    return path_->folderTokens && globMatches(*path_->folderTokens, text);
}
