// Reads arbitrary bytes as a property list; whatever reads must write back in both formats.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/ns/PropertyListSerialization.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using ns::PropertyListSerialization;
    auto value = PropertyListSerialization::read(ns::Data(data, size));
    if (!value) return 0;
    (void)value->description();
    for (auto format :
         {PropertyListSerialization::Format::XML, PropertyListSerialization::Format::Binary}) {
        // Strings holding NUL characters cannot be written; anything else must be.
        auto written = PropertyListSerialization::write(*value, format);
        if (written && !PropertyListSerialization::read(*written)) std::abort();
    }
    return 0;
}
