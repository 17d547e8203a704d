#include "bridge/NSString+HYBJavaScriptLiteral.h"

#include "platform/ns/JSONSerialization.h"

std::string hyb_JavaScriptStringLiteral(std::string_view text) {
    ns::JSONWriteOptions options;
    options.fragmentsAllowed = true;
    auto json = ns::JSONSerialization::write(ns::Value(text), options);
    // Strings always have a JSON form (ill-formed UTF-8 is replaced), so this is the norm.
    return json ? *json : std::string("\"\"");
}
