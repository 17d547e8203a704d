#pragma once

#include <span>
#include <string>
#include <string_view>

// An entity and the UTF-16 code unit it stands for.
struct TBXHTMLEscapeMap {
    std::string_view escapeSequence;
    char16_t uchar;
};

// The named character entities of HTML 4.01 plus "&apos;", sorted by code unit.
extern const std::span<const TBXHTMLEscapeMap> kTBXHTMLEscapeTable;
// Its special set (markup characters, typographic marks) plus "&apos;", sorted by code unit.
extern const std::span<const TBXHTMLEscapeMap> kTBXHTMLSpecialEscapeTable;

// Each UTF-16 unit that the table has becomes its entity; with `escapingUnicode`, every other
// unit from 128 up becomes "&#N;" (a character beyond the basic plane as two references).
std::string tbx_stringByEscapingHTMLUsingTable(std::string_view string,
                                               std::span<const TBXHTMLEscapeMap> table,
                                               bool escapingUnicode);
// Markup characters and typographic marks become entities; all else is copied.
std::string tbx_stringByEscapingForHTML(std::string_view string);
// Pure ASCII output: named entities where there are some, numeric references elsewhere.
std::string tbx_stringByEscapingForAsciiHTML(std::string_view string);
// Resolves named entities and numeric references of 4 to 10 characters. A replacement never
// feeds another: "&amp;lt;" becomes "&lt;".
std::string tbx_stringByUnescapingFromHTML(std::string_view string);
