#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/ns/StringsFile.h"
#include "platform/ns/UTF16.h"

namespace {

// Decoding and encoding again changes nothing only for well-formed UTF-8.
bool wellFormed(const std::string& s) {
    std::string again;
    for (size_t i = 0; i < s.size();) ns::appendUTF8(again, ns::nextCodePoint(s, i));
    return again == s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ns::Data bytes(data, size);
    for (const auto& table :
         {ns::StringsFile::parse(bytes), ns::StringsFile::parseText(bytes.chars())}) {
        if (!table.ok()) continue;
        for (const auto& [key, value] : *table) {
            if (!wellFormed(key) || !wellFormed(value)) std::abort();
        }
    }
    return 0;
}
