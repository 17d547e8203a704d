// Reads arbitrary bytes as a property list. Whatever reads must write back in binary and read
// back to the same bytes again; XML may refuse only what XML cannot hold, and what it writes
// must read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/ns/PropertyListSerialization.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using ns::PropertyListSerialization;
    using Format = PropertyListSerialization::Format;
    auto value = PropertyListSerialization::read(ns::Data(data, size));
    if (!value) return 0;
    (void)value->description();
    auto binary = PropertyListSerialization::write(*value, Format::Binary);
    if (!binary) std::abort();
    auto again = PropertyListSerialization::read(*binary);
    if (!again) std::abort();
    auto rewritten = PropertyListSerialization::write(*again, Format::Binary);
    if (!rewritten || *rewritten != *binary) std::abort();
    // Strings with characters that XML 1.0 cannot carry, and dates beyond four-digit years,
    // are refused; anything written must read.
    auto xml = PropertyListSerialization::write(*value, Format::XML);
    if (xml && !PropertyListSerialization::read(*xml)) std::abort();
    return 0;
}
