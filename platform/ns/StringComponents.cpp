#include "platform/ns/StringComponents.h"

namespace ns {

std::vector<std::string_view> componentsSeparatedByCharacter(std::string_view text,
                                                             char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

std::string_view trimmedWhitespace(std::string_view text) {
    constexpr std::string_view kWhite = " \t\n\r\v\f";
    const size_t begin = text.find_first_not_of(kWhite);
    if (begin == std::string_view::npos) return {};
    return text.substr(begin, text.find_last_not_of(kWhite) - begin + 1);
}

std::string asciiLowercased(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

}  // namespace ns
