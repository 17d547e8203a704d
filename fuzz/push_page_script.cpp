// What the push plug-in writes into the page: the message as the string literal of its JSON
// text, which the page parses, and the token as a string literal. Whatever the message or
// token holds, the script keeps its shape: the literal reads back as one string of JSON, and
// no line terminator (which would end or break the statement) appears raw.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/Require.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/PropertyListSerialization.h"
#include "plugins/push/NCMPlugin.h"

namespace {

void requireNoRawTerminators(std::string_view script) {
    fuzzing::require(script.find('\n') == std::string_view::npos);
    fuzzing::require(script.find('\r') == std::string_view::npos);
    fuzzing::require(script.find("\xE2\x80\xA8") == std::string_view::npos);
    fuzzing::require(script.find("\xE2\x80\xA9") == std::string_view::npos);
}

std::string_view argumentOf(std::string_view script, std::string_view function) {
    fuzzing::require(script.starts_with(function) && script.ends_with(");"));
    script.remove_prefix(function.size() + 1);
    script.remove_suffix(2);
    return script;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);

    std::string token = NCMPlugin::tokenRefreshScript(std::string(bytes));
    requireNoRawTerminators(token);
    fuzzing::require(
        ns::JSONSerialization::read(argumentOf(token, NCMPlugin::kTokenRefreshCallback),
                                    {.fragmentsAllowed = true})
            .ok());

    // Messages with every kind of value: from a property list when the bytes are one (data,
    // dates, raw text), else the bytes as one string and as data.
    ns::Dictionary message{{"text", ns::Value(std::string(bytes))},
                           {"bytes", ns::Value(ns::Data::fromString(bytes))}};
    auto plist = ns::PropertyListSerialization::read(ns::Data::fromString(bytes));
    if (plist.ok()) message.insert_or_assign("plist", plist.value());
    const std::string json = NCMPlugin::messageJSON(message);
    std::string script = NCMPlugin::messageScript(json);
    requireNoRawTerminators(script);
    std::string_view literal = script;
    const size_t parse = literal.find("JSON.parse(");
    fuzzing::require(parse != std::string_view::npos && literal.ends_with("));"));
    literal = literal.substr(parse + std::string_view("JSON.parse(").size());
    literal.remove_suffix(3);
    auto text = ns::JSONSerialization::read(literal, {.fragmentsAllowed = true});
    fuzzing::require(text.ok() && text.value().isString() && text.value().stringValue() == json);
    fuzzing::require(ns::JSONSerialization::read(json, {.maxDepth = 1 << 20}).ok());
    return 0;
}
