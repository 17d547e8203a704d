#include "toolbox/Foundation/NSString+TBXNSStringXMLAdditions.h"

#include "platform/ns/UTF16.h"

namespace {

bool allowedInXML(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD);
}

const char* xmlEntity(char32_t c) {
    switch (c) {
        case '"':
            return "&quot;";
        case '&':
            return "&amp;";
        case '\'':
            return "&apos;";
        case '<':
            return "&lt;";
        case '>':
            return "&gt;";
        default:
            return nullptr;
    }
}

std::string sanitize(std::string_view string, bool escaping) {
    std::string out;
    out.reserve(string.size());
    size_t runStart = 0;
    size_t i = 0;
    while (i < string.size()) {
        const size_t start = i;
        bool malformed = false;
        const char32_t c = ns::nextCodePoint(string, i, &malformed);
        const char* entity = escaping ? xmlEntity(c) : nullptr;
        if (allowedInXML(c) && !malformed && !entity) continue;  // gathered into the run
        out.append(string.substr(runStart, start - runStart));
        runStart = i;
        if (entity) out += entity;
        if (malformed) ns::appendUTF8(out, c);
    }
    out.append(string.substr(runStart));
    return out;
}

}  // namespace

std::string tbx_stringBySanitizingToXMLSpec(std::string_view string) {
    return sanitize(string, false);
}

std::string tbx_stringBySanitizingAndEscapingForXML(std::string_view string) {
    return sanitize(string, true);
}
