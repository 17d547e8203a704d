#include "toolbox/Foundation/NSDictionary+TBXNSDictionaryURLArgumentsAdditions.h"

#include <vector>

#include "toolbox/Foundation/NSString+TBXNSStringURLArgumentsAdditions.h"

namespace {

std::vector<std::string_view> splitAtAmpersands(std::string_view text) {
    std::vector<std::string_view> pieces;
    size_t start = 0;
    while (true) {
        size_t end = text.find('&', start);
        if (end == std::string_view::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

std::string unescapedOrEmpty(std::string_view text) {
    return tbx_stringByUnescapingFromURLArgument(text).value_or(std::string());
}

}  // namespace

ns::Dictionary tbx_dictionaryWithHttpArgumentsString(std::string_view argumentsString) {
    ns::Dictionary out;
    auto pieces = splitAtAmpersands(argumentsString);
    // Walking backwards and overwriting lets the first occurrence of a key win.
    for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
        std::string_view piece = *it;
        if (piece.empty()) continue;
        size_t equals = piece.find('=');
        if (equals == std::string_view::npos) {
            out.insert_or_assign(unescapedOrEmpty(piece), ns::Value(std::string()));
        } else {
            out.insert_or_assign(unescapedOrEmpty(piece.substr(0, equals)),
                                 ns::Value(unescapedOrEmpty(piece.substr(equals + 1))));
        }
    }
    return out;
}

std::string tbx_httpArgumentsString(const ns::Dictionary& dictionary) {
    std::string out;
    for (const auto& [key, value] : dictionary) {
        if (!out.empty()) out += '&';
        out += tbx_stringByEscapingForURLArgument(key);
        out += '=';
        out += tbx_stringByEscapingForURLArgument(value.description());
    }
    return out;
}
