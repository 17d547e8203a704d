// Entity handling and XML sanitising of untrusted text: valid UTF-8 out, and escaping then
// unescaping restores text of the basic plane.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/ns/UTF16.h"
#include "toolbox/Foundation/NSString+TBXNSStringHTMLAdditions.h"
#include "toolbox/Foundation/NSString+TBXNSStringXMLAdditions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string unescaped = tbx_stringByUnescapingFromHTML(text);
    if (unescaped.size() > text.size()) std::abort();  // an entity is never shorter than its text
    const std::string sanitized = tbx_stringBySanitizingAndEscapingForXML(text);
    if (!ns::isValidUTF8(sanitized) || !ns::isValidUTF8(tbx_stringBySanitizingToXMLSpec(text))) {
        std::abort();
    }
    if (ns::isValidUTF8(text) != (ns::fromUTF16(ns::toUTF16(text)) == text)) std::abort();

    const std::string clean = ns::fromUTF16(ns::toUTF16(text));
    // Surrogate halves and U+FFFF have no reference that reads back.
    bool restorable = true;
    for (char16_t u : ns::toUTF16(clean)) {
        restorable = restorable && (u < 0xD800 || u > 0xDFFF) && u != 0xFFFF;
    }
    const std::string ascii = tbx_stringByEscapingForAsciiHTML(clean);
    for (char c : ascii) {
        if (static_cast<unsigned char>(c) >= 128) std::abort();
    }
    if (restorable) {
        if (tbx_stringByUnescapingFromHTML(ascii) != clean) std::abort();
        if (tbx_stringByUnescapingFromHTML(tbx_stringByEscapingForHTML(clean)) != clean) {
            std::abort();
        }
    }
    return 0;
}
