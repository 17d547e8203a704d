#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/URLComponents.h"

namespace ns {

// The platform's URL object: an absolute URL or a relative reference, kept as the text it was
// made from, with accessors for its parts. Immutable; the "URLBy..." operations make new URLs.
// Which texts are valid is URLComponents' rule.
class URL {
public:
    // Nothing for an empty or invalid text. A relative reference is taken as it is.
    static std::optional<URL> parse(std::string_view text);
    // For addresses that come from a more lenient parser (a web engine's): what a URL cannot
    // hold is percent-encoded first (bytes outside its legal characters, a "%" that starts no
    // two-digit escape, and square brackets that enclose no IP literal), so "sms:1|2" gives
    // "sms:1%7C2". A valid text is taken as it is; nothing only when even the encoded text is
    // no URL (an invalid port, say).
    static std::optional<URL> parseEncodingInvalidCharacters(std::string_view text);
    // The reference resolved against `base` (RFC 3986 section 5, dot segments removed); the
    // result is absolute whenever the base is, and keeps no link to the base.
    static std::optional<URL> parse(std::string_view text, const URL& base);
    // "file://" and the percent-encoded absolute path; a relative path is taken from the
    // current directory (an empty one is the current directory). `isDirectory` adds a
    // trailing "/" when the path has none.
    static URL fileURLWithPath(std::string_view path, bool isDirectory = false);

    // The text as given, or the resolved text for a reference parsed against a base.
    const std::string& absoluteString() const { return text_; }
    // As written: the letter case is kept, comparisons that ignore it are the caller's.
    const std::optional<std::string>& scheme() const { return parts_.scheme(); }
    // Everything after the scheme and its ":" (the whole text of a relative reference).
    std::string resourceSpecifier() const;
    std::optional<std::string> user() const;              // percent-decoded
    const std::optional<std::string>& password() const {  // as written, not decoded
        return parts_.percentEncodedPassword();
    }
    // Percent-decoded, without the brackets of an IP literal. Empty for "file:///x", nothing
    // for a URL without an authority such as "mailto:a@b".
    std::optional<std::string> host() const;
    std::optional<int> port() const { return parts_.port(); }
    // Percent-decoded (kept encoded when the bytes are not UTF-8), with a trailing "/"
    // removed unless the path is "/" itself.
    std::string path() const;
    // "/" first for an absolute path, then each non-empty segment, decoded on its own (so an
    // escaped "%2F" stays inside its component).
    std::vector<std::string> pathComponents() const;
    std::string lastPathComponent() const;  // "" for an empty path, "/" for the root
    // The text after the last "." of the last segment; none for "name.", ".name" or no dot.
    std::string pathExtension() const;
    const std::optional<std::string>& query() const {  // as written; "?" alone gives ""
        return parts_.percentEncodedQuery();
    }
    const std::optional<std::string>& fragment() const {  // as written; "#" alone gives ""
        return parts_.percentEncodedFragment();
    }
    bool isFileURL() const;         // scheme "file", in any letter case
    bool hasDirectoryPath() const;  // the path ends with "/"

    // The component, percent-encoded for a path ("/" kept), after the path and one "/"; query
    // and fragment stay. `isDirectory` ends the path with "/".
    URL URLByAppendingPathComponent(std::string_view component, bool isDirectory = false) const;
    // The path up to and including the "/" before its last segment. The root stays the root;
    // a last segment of "." or ".." gets "../" added instead, which still names the parent.
    URL URLByDeletingLastPathComponent() const;
    // "." and the encoded extension after the last segment (before a trailing "/"). Unchanged
    // for an empty extension, one holding "/", or a path without a segment.
    URL URLByAppendingPathExtension(std::string_view extension) const;
    URL URLByDeletingPathExtension() const;
    // "." and ".." segments of an absolute path resolved.
    URL standardizedURL() const;

    bool operator==(const URL& other) const { return text_ == other.text_; }

private:
    friend class URLComponents;

    URL(std::string text, URLComponents parts) : text_(std::move(text)), parts_(std::move(parts)) {}
    URL withPath(std::string path) const;

    std::string text_;
    URLComponents parts_;
};

}  // namespace ns
