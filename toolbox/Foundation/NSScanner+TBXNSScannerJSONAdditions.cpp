#include "toolbox/Foundation/NSScanner+TBXNSScannerJSONAdditions.h"

#include "platform/ns/UTF16.h"

bool tbx_scanJSONObjectString(ns::Scanner& scanner, std::string* jsonString) {
    return tbx_scanJSONString(scanner, jsonString, u'{', u'}');
}

bool tbx_scanJSONArrayString(ns::Scanner& scanner, std::string* jsonString) {
    return tbx_scanJSONString(scanner, jsonString, u'[', u']');
}

bool tbx_scanJSONString(ns::Scanner& scanner, std::string* jsonString, char16_t startChar,
                        char16_t endChar) {
    const std::u16string& text = scanner.units();
    const size_t n = text.size();
    size_t i = scanner.scanLocation();
    if (i >= n) return false;
    for (; i < n && text[i] != startChar; ++i) {
        if (!scanner.skips(text[i])) {
            scanner.setScanLocation(i);
            return false;
        }
    }
    const size_t start = i;
    size_t depth = 0;
    bool inString = false;
    for (; i < n; ++i) {
        const char16_t c = text[i];
        if (inString) {
            if (c == u'\\') {
                if (i + 1 < n) ++i;
            } else if (c == u'"') {
                inString = false;
            }
        } else if (c == u'"') {
            inString = true;
        } else if (c == startChar) {
            ++depth;
        } else if (c == endChar && --depth == 0) {
            scanner.setScanLocation(i + 1);
            if (jsonString) *jsonString = ns::fromUTF16(text.substr(start, i + 1 - start));
            return true;
        }
    }
    scanner.setScanLocation(n);
    return false;
}
