// Replacement templates and subject texts from outside against a few fixed, small patterns:
// enumeration must end and cover the text exactly.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "toolbox/Foundation/NSDK_TBXRegex.h"
#include "toolbox/Foundation/NSDK_TBXRegexEnumerator.h"

namespace {

constexpr const char* kPatterns[] = {
    "(o)", "(a)|(b)",        "x*",           "^a",     "([a-z]+)@([a-z]+)",
    "$",   "(\\\\)([0-9]+)", "[[:space:]]+", "(.)(.)?"};
constexpr size_t kMaxText = 2048;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const auto& patternText = kPatterns[data[0] % std::size(kPatterns)];
    const uint64_t options = (data[0] >> 4) & 3;
    auto regex = NSDK_TBXRegex::regexWithPattern(patternText, options);
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t cut = rest.find('\xFF');
    const std::string_view text = rest.substr(0, std::min(cut, kMaxText));
    const std::string_view replacement =
        cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);

    std::string rebuilt;
    auto segments = regex->segmentEnumeratorForString(text);
    segments->treatStartOfNewSegmentAsBeginningOfString(data[0] & 0x40);
    while (auto segment = segments->nextObject()) rebuilt += segment->string();
    if (rebuilt != text) std::abort();

    // Replacing with "\0" puts every match back where it was.
    if (regex->stringByReplacingMatchesInString(text, "\\0") != text) std::abort();
    regex->stringByReplacingMatchesInString(text, replacement);
    return 0;
}
