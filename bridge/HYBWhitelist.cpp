#include "bridge/HYBWhitelist.h"

#include <algorithm>

#include "platform/ns/CharacterSet.h"
#include "platform/ns/Format.h"
#include "platform/ns/Log.h"
#include "platform/ns/PercentEncoding.h"

namespace {

// Host and path under which http(s) URLs are checked against entries of the default scheme.
constexpr std::string_view kDefaultScheme = "hyb-default-scheme";
constexpr int kMaxPort = 65535;

struct EntryParts {
    std::optional<std::string> scheme;
    std::optional<std::string> host;
    std::optional<int> port;
    std::optional<std::string> path;
};

bool isSchemeChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isHostChar(char c) {
    return c != '*' && c != '/' && c != ':';
}

// Length of the line-ending character at `p`, or 0: a path runs up to the first of them.
size_t lineTerminatorLength(std::string_view text, size_t p) {
    const auto c = static_cast<unsigned char>(text[p]);
    if (c >= 0x0A && c <= 0x0D) return 1;
    auto rest = text.substr(p);
    if (rest.starts_with("\xC2\x85")) return 2;
    if (rest.starts_with("\xE2\x80\xA8") || rest.starts_with("\xE2\x80\xA9")) return 3;
    return 0;
}

size_t runOf(std::string_view text, size_t from, bool (*accept)(char)) {
    size_t end = from;
    while (end < text.size() && accept(text[end])) ++end;
    return end - from;
}

// Reads "[scheme:[/[/]]][*.host|host|*][:port][/path]" from the front of the entry; text after
// what fits is ignored. Nothing when the entry names no component at all, or a port that no
// URL can have.
std::optional<EntryParts> parseEntry(std::string_view entry) {
    EntryParts parts;
    size_t i = 0;

    if (entry.starts_with("*:")) {
        parts.scheme = "*";
        i = 2;
    } else if (const size_t n = runOf(entry, 0, isSchemeChar);
               n > 0 && n < entry.size() && entry[n] == ':') {
        parts.scheme = std::string(entry.substr(0, n));
        i = n + 1;
    }
    if (parts.scheme) {
        for (int slashes = 0; slashes < 2 && i < entry.size() && entry[i] == '/'; ++slashes) ++i;
    }

    if (entry.substr(i).starts_with("*.") && runOf(entry, i + 2, isHostChar) > 0) {
        const size_t n = 2 + runOf(entry, i + 2, isHostChar);
        parts.host = std::string(entry.substr(i, n));
        i += n;
    } else if (const size_t n = runOf(entry, i, isHostChar); n > 0) {
        parts.host = std::string(entry.substr(i, n));
        i += n;
    } else if (i < entry.size() && entry[i] == '*') {
        parts.host = "*";
        ++i;
    }

    if (i < entry.size() && entry[i] == ':') {
        const size_t n = runOf(entry, i + 1, isDigit);
        if (n > 0) {
            const auto digits = entry.substr(i + 1, n);
            const size_t significant = digits.find_first_not_of('0');
            if (significant != std::string_view::npos && digits.size() - significant > 5) {
                return std::nullopt;
            }
            int port = 0;
            for (char c : digits) port = port * 10 + (c - '0');
            if (port > kMaxPort) return std::nullopt;
            parts.port = port;
            i += 1 + n;
        }
    }

    if (i < entry.size() && entry[i] == '/') {
        size_t end = i;
        while (end < entry.size() && lineTerminatorLength(entry, end) == 0) ++end;
        parts.path = std::string(entry.substr(i, end - i));
    }

    if (!parts.scheme && !parts.host && !parts.port && !parts.path) return std::nullopt;
    return parts;
}

bool isWebScheme(std::string_view scheme) {
    return scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "ftps";
}

}  // namespace

HYBWhitelist::HYBWhitelist(const std::vector<std::string>& entries) {
    for (const auto& entry : entries) addWhiteListEntry(entry);
}

void HYBWhitelist::addWhiteListEntry(std::string_view entry) {
    if (!whitelist_) return;
    if (entry == "*") {
        ns::nslog("Unlimited access to network resources");
        whitelist_.reset();
        permittedSchemes_.reset();
        return;
    }
    auto parts = parseEntry(entry);
    if (!parts) return;
    if (!parts->host && (parts->scheme == "file" || parts->scheme == "content")) {
        parts->host = "*";
    }
    if (parts->scheme) {
        whitelist_->emplace_back(parts->scheme, parts->host, parts->port, parts->path);
    } else {
        whitelist_->emplace_back("http", parts->host, parts->port, parts->path);
        whitelist_->emplace_back("https", parts->host, parts->port, parts->path);
    }
    if (permittedSchemes_ && parts->scheme) {
        if (*parts->scheme == "*") {
            permittedSchemes_.reset();
        } else {
            permittedSchemes_->insert(*parts->scheme);
        }
    }
}

bool HYBWhitelist::schemeIsAllowed(std::string_view scheme) const {
    if (isWebScheme(scheme)) return true;
    return !permittedSchemes_ || permittedSchemes_->contains(scheme);
}

bool HYBWhitelist::URLIsAllowed(const ns::URL& url, bool logFailure) const {
    if (!whitelist_) return true;
    std::string scheme = url.scheme().value_or("");
    std::ranges::transform(scheme, scheme.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    if (schemeIsAllowed(scheme)) {
        // Entries written under the default scheme admit a web URL by host and path alone.
        if (isWebScheme(scheme)) {
            const std::string text = ns::format(
                "%@://%@%@", kDefaultScheme, url.host().value_or(""),
                ns::percentEncode(url.path(), ns::CharacterSet::URLPathAllowedCharacterSet()));
            if (auto defaultURL = ns::URL::parse(text);
                defaultURL && URLIsAllowed(*defaultURL, false)) {
                return true;
            }
        }
        for (const auto& pattern : *whitelist_) {
            if (pattern.matches(url)) return true;
        }
    }
    if (logFailure) ns::nslog("%@", errorStringForURL(url));
    return false;
}

std::string HYBWhitelist::errorStringForURL(const ns::URL& url) const {
    return ns::format(rejectionFormat_, url.absoluteString());
}

bool HYBWhitelist::isIPv4Address(std::string_view text) {
    int parts = 0;
    size_t start = 0;
    while (true) {
        const size_t dot = text.find('.', start);
        const auto part = text.substr(start, dot == std::string_view::npos ? dot : dot - start);
        if (++parts > 4) return false;
        if (part != "*") {
            if (part.empty() || runOf(part, 0, isDigit) != part.size()) return false;
            const size_t significant = part.find_first_not_of('0');
            if (significant != std::string_view::npos &&
                (part.size() - significant > 3 || std::stoi(std::string(part)) > 255)) {
                return false;
            }
        }
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return parts == 4;
}
