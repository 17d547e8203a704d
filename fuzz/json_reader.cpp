// Reads arbitrary bytes as JSON in both modes; whatever reads must write back and read again
// to the same value, and every dictionary read has its keys strictly in order, each findable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/ns/JSONSerialization.h"

namespace {

void checkOrder(const ns::Value& value) {
    if (const ns::Array* items = value.array()) {
        for (const ns::Value& item : *items) checkOrder(item);
    } else if (const ns::Dictionary* members = value.dictionary()) {
        const std::string* previous = nullptr;
        for (const auto& [key, member] : *members) {
            if (previous && !(*previous < key)) std::abort();
            if (members->find(key) == members->end()) std::abort();
            checkOrder(member);
            previous = &key;
        }
    }
}

void roundTrip(const ns::Value& value, bool fragments) {
    checkOrder(value);
    ns::JSONSerialization::WriteOptions options;
    options.fragmentsAllowed = fragments;
    ns::JSONSerialization::ReadOptions readOptions;
    readOptions.fragmentsAllowed = fragments;
    // One pass may turn integral doubles into integers (1.0 and -0.0 write as 1 and -0);
    // after that, writing and reading must be stable.
    auto text = ns::JSONSerialization::write(value, options);
    if (!text) std::abort();  // everything read is writable
    auto again = ns::JSONSerialization::read(*text, readOptions);
    if (!again) std::abort();
    auto text2 = ns::JSONSerialization::write(*again, options);
    if (!text2) std::abort();
    auto again2 = ns::JSONSerialization::read(*text2, readOptions);
    if (!again2 || *again2 != *again) std::abort();
    options.prettyPrinted = true;
    if (!ns::JSONSerialization::write(value, options)) std::abort();
    (void)value.description();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ns::JSONSerialization::ReadOptions containers;
    if (auto v = ns::JSONSerialization::read(text, containers)) roundTrip(*v, false);
    ns::JSONSerialization::ReadOptions fragments;
    fragments.fragmentsAllowed = true;
    fragments.maxDepth = 64;
    auto v = ns::JSONSerialization::read(text, fragments);
    if (v) roundTrip(*v, true);
    // Deep limits take the other parser, which always checks UTF-8 itself: whatever the
    // usual reader accepts, it must accept as the same value.
    ns::JSONSerialization::ReadOptions deep = fragments;
    deep.maxDepth = 2000;
    auto other = ns::JSONSerialization::read(text, deep);
    if (v && (!other || *other != *v)) std::abort();
    return 0;
}
