// Reads arbitrary bytes with the on-demand reader of page calls and with the tree reader: what
// the on-demand check passes, the tree reader reads, in every mode, and the whole-text check
// gives the tree reader's verdict; and each element of a
// top-level array, read part by part as plug-ins read their arguments (a container's text found
// by its brackets), is the tree reader's value.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/Require.h"
#include "platform/ns/JSONReader.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/JSONText.h"

namespace {

void compare(const ns::JSONSlice& slice, ns::JSONReadOptions options) {
    const bool tree = ns::JSONSerialization::read(slice.text(), options).ok();
    ns::JSONReader reader(slice);
    ns::ondemand::value root;
    const bool checked = !reader.document().error() && !reader.document().get_value().get(root) &&
                         ns::json::check(root, options).ok() && reader.atEnd();
    fuzzing::require(!checked || tree);
    // The whole-text check is the tree reader's verdict, exactly.
    fuzzing::require(ns::json::checkWhole(slice, options).ok() == tree);
}

// Every element of an array read on its own: a scalar by its kind, a container kept as text
// and read again; each must be what the tree reader makes of the whole.
void readParts(const ns::JSONSlice& slice, const ns::Value& whole) {
    ns::JSONReader reader(slice);
    ns::ondemand::array elements;
    if (reader.document().get_array().get(elements)) return;
    size_t index = 0;
    for (auto element : elements) {
        ns::ondemand::value item;
        if (element.get(item)) return;
        ns::ondemand::json_type type;
        if (item.type().get(type)) return;
        const ns::Value* expected = index < whole.count() ? &whole.at(index) : nullptr;
        if (!expected) return;
        switch (type) {
            case ns::ondemand::json_type::string: {
                auto text = ns::json::string(item, true);
                fuzzing::require(text.ok() && ns::Value(*text) == *expected);
                break;
            }
            case ns::ondemand::json_type::number: {
                auto number = ns::json::number(item);
                fuzzing::require(number.ok() && *number == *expected);
                break;
            }
            case ns::ondemand::json_type::array:
            case ns::ondemand::json_type::object: {
                // Found by its brackets, the container's text is the reader's.
                const std::string_view whole = slice.text();
                const char* start = item.raw_json_token().data();
                const auto extent = ns::json::containerExtent(
                    whole.substr(static_cast<size_t>(start - whole.data())), 4096);
                auto text = ns::json::rawText(item);
                fuzzing::require(text.ok());
                fuzzing::require(extent.length && std::string_view(start, *extent.length) == *text);
                auto again = ns::JSONSlice(slice.owner(), *text)
                                 .read({.maxDepth = 4096, .loneSurrogatesReplaced = true});
                fuzzing::require(again.ok() && *again == *expected);
                break;
            }
            default:
                break;
        }
        ++index;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const ns::JSONSlice slice(ns::JSONText::copy(bytes));
    compare(slice, {});
    compare(slice, {.fragmentsAllowed = true});
    compare(slice, {.fragmentsAllowed = true, .maxDepth = 8});
    compare(slice, {.fragmentsAllowed = true, .loneSurrogatesReplaced = true});
    const auto whole =
        ns::JSONSerialization::read(bytes, {.maxDepth = 4096, .loneSurrogatesReplaced = true});
    if (whole && whole->isArray()) readParts(slice, *whole);
    return 0;
}
