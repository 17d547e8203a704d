#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/ns/CharacterSet.h"
#include "platform/ns/PercentEncoding.h"
#include "platform/ns/URL.h"
#include "platform/ns/URLComponents.h"
#include "platform/ns/UTF16.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

void checkSameAccessors(const ns::URL& a, const ns::URL& b) {
    require(a == b);
    require(a.scheme() == b.scheme() && a.user() == b.user() && a.password() == b.password());
    require(a.host() == b.host() && a.port() == b.port() && a.path() == b.path());
    require(a.query() == b.query() && a.fragment() == b.fragment());
    require(a.pathComponents() == b.pathComponents() && a.pathExtension() == b.pathExtension());
}

// A URL made by an operation must read back as itself.
void checkReparses(const ns::URL& url) {
    auto again = ns::URL::parse(url.absoluteString());
    require(again.has_value());
    checkSameAccessors(url, *again);
}

void exercise(const ns::URL& url) {
    auto again = ns::URL::parse(url.absoluteString());
    require(again.has_value());
    checkSameAccessors(url, *again);
    require(ns::URLComponents(url).string() == url.absoluteString());
    (void)url.resourceSpecifier();
    (void)url.lastPathComponent();
    (void)url.isFileURL();
    (void)ns::URLComponents(url).queryItems();
    checkReparses(url.URLByAppendingPathComponent("a b/c?", true));
    checkReparses(url.URLByDeletingLastPathComponent());
    checkReparses(url.URLByAppendingPathExtension("x%y"));
    checkReparses(url.URLByDeletingPathExtension());
    checkReparses(url.standardizedURL());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    static const ns::URL base = *ns::URL::parse("http://user@a.example:8080/b/c/d;p?q#f");

    if (auto url = ns::URL::parse(text)) exercise(*url);

    // The lenient form takes every text the strict one takes, as it is, and what it makes of
    // another text is a URL like any other.
    auto lenient = ns::URL::parseEncodingInvalidCharacters(text);
    if (ns::URL::parse(text)) require(lenient && lenient->absoluteString() == text);
    if (lenient) exercise(*lenient);

    if (auto resolved = ns::URL::parse(text, base)) {
        exercise(*resolved);
        require(resolved->scheme().has_value());
        // Resolution already removed every dot segment of an absolute path.
        if (resolved->host()) require(resolved->standardizedURL() == *resolved);
    }

    if (auto decoded = ns::percentDecode(text)) require(ns::isValidUTF8(*decoded));
    auto encoded = ns::percentEncode(text, ns::CharacterSet::URLPathAllowedCharacterSet());
    require(ns::percentDecodeBytes(encoded) == std::string(text));
    require(ns::URL::fileURLWithPath(text).isFileURL());
    return 0;
}
