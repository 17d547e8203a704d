#include "sdk/analytics/NEBNSDictionaryQuery.h"

#include <vector>

#include "platform/ns/CharacterSet.h"
#include "platform/ns/PercentEncoding.h"
#include "platform/ns/StringComponents.h"
#include "toolbox/Foundation/NSString+TBXNSStringURLArgumentsAdditions.h"

namespace {

std::string textOf(const ns::Value& value) {
    if (const auto* text = value.string()) return *text;
    return value.description();
}

}  // namespace

std::string neba_queryString(const ns::Dictionary& dictionary) {
    // Inside a key or value, what would end it ("&", "="), read as a blank ("+") or start the
    // fragment ("#") is escaped too: the text must read back as it was.
    static const ns::CharacterSet legal =
        ns::CharacterSet::URLLegalCharacterSet().setByRemovingCharactersInString("&=+#");
    std::string query;
    for (const auto& [key, value] : dictionary) {
        if (!query.empty()) query += '&';
        query += ns::percentEncode(key, legal) + "=" + ns::percentEncode(textOf(value), legal);
    }
    return query;
}

std::optional<std::string> neba_stringByUnescapingFromURLArgument(std::string_view argument) {
    return tbx_stringByUnescapingFromURLArgument(argument);
}

ns::Dictionary neba_dictionaryWithHttpArgumentsString(std::string_view arguments) {
    const auto pieces = ns::componentsSeparatedByCharacter(arguments, '&');
    ns::Dictionary dictionary;
    // Walked from the last piece, so that the first occurrence of a key is written last.
    for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
        if (it->empty()) continue;
        size_t equals = it->find('=');
        auto key = neba_stringByUnescapingFromURLArgument(it->substr(0, equals));
        std::optional<std::string> value = std::string();
        if (equals != std::string_view::npos)
            value = neba_stringByUnescapingFromURLArgument(it->substr(equals + 1));
        if (!key || !value) continue;
        dictionary.insert_or_assign(*key, ns::Value(std::move(*value)));
    }
    return dictionary;
}
