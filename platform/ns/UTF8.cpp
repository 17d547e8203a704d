#include "platform/ns/UTF8.h"

#include <simdjson.h>

namespace ns::utf8 {

bool isValid(std::string_view text) {
    // The SIMD library's check, by the same rules, many bytes at a time: answers and columns of
    // many megabytes pass through here.
    return simdjson::validate_utf8(text.data(), text.size());
}

void appendRepaired(std::string& out, std::string_view text) {
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    const auto end = p + text.size();
    auto run = p;  // start of the well-formed stretch not yet copied
    while (p < end) {
        const size_t n = sequenceLength(p, end);
        if (n != 0) {
            p += n;
            continue;
        }
        out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
        out.append(kReplacement);
        run = ++p;
    }
    out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
}

std::string repaired(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    appendRepaired(out, text);
    return out;
}

}  // namespace ns::utf8
