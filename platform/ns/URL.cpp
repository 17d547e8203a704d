#include "platform/ns/URL.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/ns/CharacterSet.h"
#include "platform/ns/PercentEncoding.h"

namespace ns {

namespace {

// Drops the last segment of `out` with the "/" before it.
void popLastSegment(std::string& out) {
    size_t slash = out.rfind('/');
    out.erase(slash == std::string::npos ? 0 : slash);
}

// RFC 3986 section 5.2.4. Every character is appended, scanned and erased at most once.
std::string removeDotSegments(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    while (!in.empty()) {
        if (in.starts_with("../")) {
            in.remove_prefix(3);
        } else if (in.starts_with("./") || in.starts_with("/./")) {
            in.remove_prefix(2);
        } else if (in == "/.") {
            in = "/";
        } else if (in.starts_with("/../")) {
            in.remove_prefix(3);
            popLastSegment(out);
        } else if (in == "/..") {
            in = "/";
            popLastSegment(out);
        } else if (in == "." || in == "..") {
            in = {};
        } else {
            size_t next = std::min(in.find('/', 1), in.size());
            out.append(in.substr(0, next));
            in.remove_prefix(next);
        }
    }
    return out;
}

// RFC 3986 section 5.2.3.
std::string mergePaths(const URLComponents& base, std::string_view reference) {
    const std::string& basePath = base.percentEncodedPath();
    if (base.percentEncodedHost() && basePath.empty()) return "/" + std::string(reference);
    size_t slash = basePath.rfind('/');
    std::string merged = slash == std::string::npos ? std::string() : basePath.substr(0, slash + 1);
    merged.append(reference);
    return merged;
}

// The path without one trailing "/" (kept for the root), and whether there was one.
std::pair<std::string_view, bool> splitTrailingSlash(std::string_view path) {
    if (path.size() > 1 && path.back() == '/') return {path.substr(0, path.size() - 1), true};
    return {path, false};
}

std::string_view lastSegment(std::string_view core) {
    size_t slash = core.rfind('/');
    return slash == std::string_view::npos ? core : core.substr(slash + 1);
}

}  // namespace

std::optional<URL> URL::parse(std::string_view text) {
    if (text.empty()) return std::nullopt;
    auto parts = URLComponents::componentsWithString(text);
    if (!parts) return std::nullopt;
    return URL(std::string(text), std::move(*parts));
}

std::optional<URL> URL::parseEncodingInvalidCharacters(std::string_view text) {
    if (auto url = parse(text)) return url;
    auto encoded = [text](bool keepBrackets) {
        static const char* const kHex = "0123456789ABCDEF";
        const CharacterSet& legal = CharacterSet::URLLegalCharacterSet();
        auto isHex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
        std::string out;
        for (size_t i = 0; i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            const bool escape =
                c == '%' && i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2]);
            if (escape || (c != '%' && legal.characterIsMember(c) &&
                           (keepBrackets || (c != '[' && c != ']')))) {
                out += static_cast<char>(c);
            } else {
                out += '%';
                out += kHex[c >> 4];
                out += kHex[c & 0xF];
            }
        }
        return out;
    };
    if (auto url = parse(encoded(true))) return url;
    return parse(encoded(false));
}

std::optional<URL> URL::parse(std::string_view text, const URL& base) {
    auto ref = URLComponents::componentsWithString(text);
    if (!ref) return std::nullopt;
    const URLComponents& b = base.parts_;
    URLComponents t;
    if (ref->scheme_ || ref->host_) {
        t = *ref;
        t.path_ = removeDotSegments(ref->path_);
        if (!ref->scheme_) t.scheme_ = b.scheme_;
    } else {
        t.scheme_ = b.scheme_;
        t.user_ = b.user_;
        t.password_ = b.password_;
        t.host_ = b.host_;
        t.portText_ = b.portText_;
        if (ref->path_.empty()) {
            t.path_ = b.path_;
            t.query_ = ref->query_ ? ref->query_ : b.query_;
        } else {
            t.path_ = removeDotSegments(ref->path_.starts_with("/") ? ref->path_
                                                                    : mergePaths(b, ref->path_));
            t.query_ = ref->query_;
        }
    }
    t.fragment_ = ref->fragment_;
    return t.url();
}

URL URL::fileURLWithPath(std::string_view path, bool isDirectory) {
    std::string absolute(path);
    if (absolute.empty() || absolute[0] != '/') {
        std::error_code error;
        std::string cwd = std::filesystem::current_path(error).string();
        if (error || cwd.empty()) cwd = "/";
        if (cwd.back() != '/') cwd += '/';
        absolute = cwd + absolute;
    }
    if (isDirectory && absolute.back() != '/') absolute += '/';
    URLComponents parts;
    parts.scheme_ = "file";
    parts.host_ = "";
    parts.path_ = percentEncode(absolute, CharacterSet::URLPathAllowedCharacterSet());
    std::string text = parts.string();
    return URL(std::move(text), std::move(parts));
}

std::string URL::resourceSpecifier() const {
    if (!scheme()) return text_;
    return text_.substr(scheme()->size() + 1);
}

std::optional<std::string> URL::user() const {
    if (!parts_.percentEncodedUser()) return std::nullopt;
    return percentDecodeOrKeep(*parts_.percentEncodedUser());
}

std::optional<std::string> URL::host() const {
    if (!parts_.percentEncodedHost()) return std::nullopt;
    std::string_view host = *parts_.percentEncodedHost();
    if (host.starts_with("[")) return std::string(host.substr(1, host.size() - 2));
    return percentDecodeOrKeep(host);
}

std::string URL::path() const {
    return percentDecodeOrKeep(splitTrailingSlash(parts_.percentEncodedPath()).first);
}

std::vector<std::string> URL::pathComponents() const {
    std::string_view rest = parts_.percentEncodedPath();
    std::vector<std::string> components;
    if (rest.starts_with("/")) components.emplace_back("/");
    while (!rest.empty()) {
        size_t slash = std::min(rest.find('/'), rest.size());
        if (slash > 0) components.push_back(percentDecodeOrKeep(rest.substr(0, slash)));
        rest.remove_prefix(std::min(slash + 1, rest.size()));
    }
    return components;
}

std::string URL::lastPathComponent() const {
    auto components = pathComponents();
    return components.empty() ? std::string() : components.back();
}

std::string URL::pathExtension() const {
    std::string_view segment = lastSegment(splitTrailingSlash(parts_.percentEncodedPath()).first);
    size_t dot = segment.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return percentDecodeOrKeep(segment.substr(dot + 1));
}

bool URL::isFileURL() const {
    const auto& s = scheme();
    return s && s->size() == 4 && std::equal(s->begin(), s->end(), "file", [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? a + ('a' - 'A') : a) == b;
           });
}

bool URL::hasDirectoryPath() const {
    return parts_.percentEncodedPath().ends_with("/");
}

URL URL::withPath(std::string path) const {
    URLComponents parts = parts_;
    parts.path_ = std::move(path);
    auto url = parts.url();
    return url ? std::move(*url) : *this;
}

URL URL::URLByAppendingPathComponent(std::string_view component, bool isDirectory) const {
    std::string path = parts_.percentEncodedPath();
    if (path.empty() ? parts_.percentEncodedHost().has_value() : path.back() != '/') path += '/';
    // An absolute path given as the component joins with one "/", not two.
    if (path.ends_with("/"))
        component.remove_prefix(std::min(component.find_first_not_of('/'), component.size()));
    path += percentEncode(component, CharacterSet::URLPathAllowedCharacterSet());
    if (isDirectory && !path.ends_with("/")) path += '/';
    return withPath(std::move(path));
}

URL URL::URLByDeletingLastPathComponent() const {
    const std::string& path = parts_.percentEncodedPath();
    if (path.empty() || path == "/") return *this;
    std::string_view core = splitTrailingSlash(path).first;
    std::string_view last = lastSegment(core);
    if (last == "." || last == "..") return withPath(std::string(core) + "/../");
    std::string_view parent = core.substr(0, core.size() - last.size());
    return withPath(parent.empty() ? std::string("./") : std::string(parent));
}

URL URL::URLByAppendingPathExtension(std::string_view extension) const {
    if (extension.empty() || extension.find('/') != std::string_view::npos) return *this;
    auto [core, trailing] = splitTrailingSlash(parts_.percentEncodedPath());
    if (lastSegment(core).empty()) return *this;
    std::string path(core);
    path += '.';
    path += percentEncode(extension, CharacterSet::URLPathAllowedCharacterSet());
    if (trailing) path += '/';
    return withPath(std::move(path));
}

URL URL::URLByDeletingPathExtension() const {
    auto [core, trailing] = splitTrailingSlash(parts_.percentEncodedPath());
    std::string_view segment = lastSegment(core);
    size_t dot = segment.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == segment.size()) return *this;
    std::string path(core.substr(0, core.size() - segment.size() + dot));
    if (trailing) path += '/';
    return withPath(std::move(path));
}

URL URL::standardizedURL() const {
    const std::string& path = parts_.percentEncodedPath();
    if (!path.starts_with("/")) return *this;
    return withPath(removeDotSegments(path));
}

}  // namespace ns
