#include "toolbox/Foundation/NSString+TBXNSStringURLArgumentsAdditions.h"

#include <algorithm>

#include "platform/ns/CharacterSet.h"
#include "platform/ns/PercentEncoding.h"

std::string tbx_stringByEscapingForURLArgument(std::string_view text) {
    static const ns::CharacterSet allowed =
        ns::CharacterSet::URLLegalCharacterSet().setByRemovingCharactersInString(
            "!*'();:@&=+$,/?%#[]");
    return ns::percentEncode(text, allowed);
}

std::optional<std::string> tbx_stringByUnescapingFromURLArgument(std::string_view text) {
    std::string spaced(text);
    std::replace(spaced.begin(), spaced.end(), '+', ' ');
    return ns::percentDecode(spaced);
}
