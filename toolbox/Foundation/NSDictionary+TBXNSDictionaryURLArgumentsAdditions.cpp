#include "toolbox/Foundation/NSDictionary+TBXNSDictionaryURLArgumentsAdditions.h"

#include <vector>

#include "platform/ns/StringComponents.h"
#include "toolbox/Foundation/NSString+TBXNSStringURLArgumentsAdditions.h"

namespace {

std::string unescapedOrEmpty(std::string_view text) {
    return tbx_stringByUnescapingFromURLArgument(text).value_or(std::string());
}

}  // namespace

ns::Dictionary tbx_dictionaryWithHttpArgumentsString(std::string_view argumentsString) {
    ns::Dictionary out;
    auto pieces = ns::componentsSeparatedByCharacter(argumentsString, '&');
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
