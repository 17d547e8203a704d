#include "platform/ns/UTF8.h"

#include <simdjson.h>

#include <cstdint>
#include <cstring>

namespace ns::utf8 {

namespace {

// Above this length the SIMD validator wins over the word-at-a-time loop below, whose
// per-sequence branches cost most on long text (a large answer is checked before it is handed
// over).
constexpr size_t kVectorLength = 256;

}  // namespace

bool isValid(std::string_view text) {
    if (text.size() >= kVectorLength) return simdjson::validate_utf8(text.data(), text.size());
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    const auto end = p + text.size();
    while (p < end) {
        // Runs of ASCII, the most of most texts, eight bytes at a time.
        uint64_t word;
        if (end - p >= 8 && (std::memcpy(&word, p, 8), (word & 0x8080808080808080ULL) == 0)) {
            p += 8;
            continue;
        }
        const size_t n = sequenceLength(p, end);
        if (n == 0) return false;
        p += n;
    }
    return true;
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
        run = p += illFormedLength(p, end);
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
