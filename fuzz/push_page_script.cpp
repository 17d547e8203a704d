// What the push plug-in writes into the page: the message's JSON text (with its id), handed to
// a function that parses it, and the token as a string literal. Whatever the message, its id
// or the token holds, the script keeps its shape: the argument reads back as one string of
// JSON holding the id, and no line terminator (which would end or break the statement)
// appears raw.
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
    // The bytes are the message's id too, written in its place among the keys.
    const std::string json = NCMPlugin::messageJSON(message, bytes);
    std::string script = NCMPlugin::messageScript(json);
    requireNoRawTerminators(script);
    // "(function(message){...})(<the JSON text as a string literal>)"
    std::string_view literal = script;
    const size_t call = literal.find("})(");  // the body holds none; the text may
    fuzzing::require(call != std::string_view::npos && literal.ends_with(")"));
    literal = literal.substr(call + 3);
    literal.remove_suffix(1);
    auto text = ns::JSONSerialization::read(literal, {.fragmentsAllowed = true});
    fuzzing::require(text.ok() && text.value().isString() && text.value().stringValue() == json);
    auto read = ns::JSONSerialization::read(json, {.maxDepth = 1 << 20});
    fuzzing::require(read.ok() && read.value().isDictionary());
    fuzzing::require(bytes.empty() || read.value().find(NCMPlugin::kMessageIDKey));
    return 0;
}
