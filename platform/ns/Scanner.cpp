#include "platform/ns/Scanner.h"

#include "platform/ns/Exception.h"
#include "platform/ns/UTF16.h"

namespace ns {

Scanner::Scanner(std::string_view string) : units_(toUTF16(string)) {}

bool Scanner::isWhitespaceOrNewline(char16_t u) {
    switch (u) {
        case 0x09:
        case 0x0A:
        case 0x0B:
        case 0x0C:
        case 0x0D:
        case 0x20:
        case 0x85:
        case 0xA0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000:
            return true;
        default:
            return u >= 0x2000 && u <= 0x200A;
    }
}

void Scanner::setScanLocation(size_t location) {
    if (location > units_.size()) {
        throw Exception(kRangeException, "Scan location " + std::to_string(location) +
                                             " beyond the end of the string (" +
                                             std::to_string(units_.size()) + ")");
    }
    location_ = location;
}

}  // namespace ns
