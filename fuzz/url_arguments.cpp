#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string_view>

#include "fuzz/Require.h"
#include "platform/ns/Exception.h"
#include "platform/ns/UTF8.h"
#include "toolbox/Foundation/NSDK_TBXURLBuilder.h"
#include "toolbox/Foundation/NSDictionary+TBXNSDictionaryURLArgumentsAdditions.h"
#include "toolbox/Foundation/NSString+TBXNSStringURLArgumentsAdditions.h"

using fuzzing::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);

    // Parsed arguments, written out and parsed again, give the same dictionary.
    ns::Dictionary arguments = tbx_dictionaryWithHttpArgumentsString(text);
    for (const auto& [key, value] : arguments) {
        require(ns::utf8::isValid(key) && ns::utf8::isValid(*value.string()));
    }
    require(tbx_dictionaryWithHttpArgumentsString(tbx_httpArgumentsString(arguments)) == arguments);

    if (ns::utf8::isValid(text)) {
        require(tbx_stringByUnescapingFromURLArgument(tbx_stringByEscapingForURLArgument(text)) ==
                std::string(text));
    }

    try {
        auto builder = NSDK_TBXURLBuilder::builderWithString(text);
        require(builder->baseURLString().size() <= text.size());
        auto again = builder->URLString();
        if (again && builder->baseURLString().find('#') == std::string::npos) {
            auto rebuilt = NSDK_TBXURLBuilder::builderWithString(*again);
            require(rebuilt->parameters() == builder->parameters());
        }
    } catch (const ns::Exception&) {
        // Not a URL: the builder refuses it, as it should.
    }
    return 0;
}
