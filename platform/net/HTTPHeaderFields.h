#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace net {

// Orders header names without regard to ASCII letter case, as HTTP compares them.
struct CaseInsensitiveLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

// Whether two header names are the same name (ASCII letters in any case).
bool headerNameEquals(std::string_view a, std::string_view b);

// Header fields by name. A name keeps the spelling it was first stored with; looking it up or
// replacing its value works in any letter case.
using HTTPHeaderFields = std::map<std::string, std::string, CaseInsensitiveLess>;

// The value of `name`, if present.
std::optional<std::string> headerValue(const HTTPHeaderFields& fields, std::string_view name);
// Stores `value` under `name`, replacing any value held under the name in another case.
void setHeaderValue(HTTPHeaderFields& fields, std::string_view name, std::string value);
// Appends `value` to an existing value after ", " (the way repeated fields combine), or
// stores it.
void addHeaderValue(HTTPHeaderFields& fields, std::string_view name, std::string_view value);

// Whether the field describes a body ("Content-Type", "Content-Encoding" ...), which a request
// without one must not declare.
bool describesBody(std::string_view name);

// Whether the field carries credentials (Authorization, Cookie, Proxy-Authorization): they are
// for the origin they were given to, and a request sent on to another origin leaves them out.
bool carriesCredentials(std::string_view name);

// Whether the text may stand in a header line as a field name (an HTTP token).
bool isHeaderFieldName(std::string_view name);
// Whether the text may stand in a header line as a value: no CR, LF or NUL, which would let
// it end the line and start another.
bool isHeaderFieldValue(std::string_view value);

}  // namespace net
