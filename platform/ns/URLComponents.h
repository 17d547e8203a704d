#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/URLQueryItem.h"

namespace ns {

class URL;

// A URL reference taken apart into its RFC 3986 components, each kept exactly as written
// (percent-encoded), and put back together. URL's parser is this class's.
//
// Which characters are accepted: the unreserved and reserved characters of RFC 3986 and "%"
// followed by two hex digits; anything else (blanks, quotes, "<>\^`{|}", controls, non-ASCII)
// makes the text invalid. "[" and "]" are also taken in the path, query and fragment, and "#"
// inside the fragment, because web engines hand out URLs like that. The authority must be
// well formed: a user info without "@[]", a registered name or a bracketed IPv6 / IPvFuture
// literal, and a port of digits in 0..65535.
class URLComponents {
public:
    URLComponents() = default;
    explicit URLComponents(const URL& url);

    // Nothing when the text is not a valid URL reference (absolute or relative).
    static std::optional<URLComponents> componentsWithString(std::string_view text);

    const std::optional<std::string>& scheme() const { return scheme_; }
    const std::optional<std::string>& percentEncodedUser() const { return user_; }
    const std::optional<std::string>& percentEncodedPassword() const { return password_; }
    // Present exactly when the URL has an authority ("//"); an IP literal keeps its brackets.
    const std::optional<std::string>& percentEncodedHost() const { return host_; }
    // Nothing when there is no port or ":" is followed by no digits.
    std::optional<int> port() const;
    const std::string& percentEncodedPath() const { return path_; }
    const std::optional<std::string>& percentEncodedQuery() const { return query_; }
    const std::optional<std::string>& percentEncodedFragment() const { return fragment_; }

    void setPercentEncodedPath(std::string path) { path_ = std::move(path); }
    void setPercentEncodedQuery(std::optional<std::string> query) { query_ = std::move(query); }

    // The query split at "&" and each piece at its first "=", names and values decoded
    // (a piece that does not decode is kept as written). Nothing without a query; an empty
    // query gives no items.
    std::optional<std::vector<URLQueryItem>> queryItems() const;

    // The components put back together. A path that would read as an authority ("//x" with no
    // host) or as a scheme ("a:b" with neither) is written "/.//x" or "./a:b", so that the text
    // parses back to the same resource.
    std::string string() const;
    // The URL of string(); nothing when a component set by hand is not valid there.
    std::optional<URL> url() const;

private:
    friend class URL;

    std::optional<std::string> scheme_;
    std::optional<std::string> user_;
    std::optional<std::string> password_;
    std::optional<std::string> host_;
    std::optional<std::string> portText_;
    std::string path_;
    std::optional<std::string> query_;
    std::optional<std::string> fragment_;
};

}  // namespace ns
