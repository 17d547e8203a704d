#include "toolbox/Foundation/NSString+TBXRegexAdditions.h"

#include "toolbox/Foundation/NSDK_TBXRegex.h"

bool tbx_matchesPattern(std::string_view string, std::string_view pattern) {
    auto regex = NSDK_TBXRegex::regexWithPattern(pattern);
    return regex && regex->matchesString(string);
}

std::optional<std::vector<std::optional<std::string>>> tbx_subPatternsOfPattern(
    std::string_view string, std::string_view pattern) {
    auto regex = NSDK_TBXRegex::regexWithPattern(pattern);
    if (!regex) return std::nullopt;
    return regex->subPatternsOfString(string);
}

std::optional<std::string> tbx_firstSubStringMatchedByPattern(std::string_view string,
                                                              std::string_view pattern) {
    auto regex = NSDK_TBXRegex::regexWithPattern(pattern);
    if (!regex) return std::nullopt;
    return regex->firstSubStringMatchedInString(string);
}

bool tbx_subStringMatchesPattern(std::string_view string, std::string_view pattern) {
    auto regex = NSDK_TBXRegex::regexWithPattern(pattern);
    return regex && regex->matchesSubStringInString(string);
}

std::shared_ptr<NSDK_TBXRegexEnumerator> tbx_segmentEnumeratorForPattern(std::string_view string,
                                                                         std::string_view pattern) {
    auto regex = NSDK_TBXRegex::regexWithPattern(pattern);
    return regex ? regex->segmentEnumeratorForString(string) : nullptr;
}

std::shared_ptr<NSDK_TBXRegexEnumerator> tbx_matchSegmentEnumeratorForPattern(
    std::string_view string, std::string_view pattern) {
    auto regex = NSDK_TBXRegex::regexWithPattern(pattern);
    return regex ? regex->matchSegmentEnumeratorForString(string) : nullptr;
}

std::optional<std::vector<std::string>> tbx_allSubstringsMatchedByPattern(
    std::string_view string, std::string_view pattern) {
    auto segments = tbx_matchSegmentEnumeratorForPattern(string, pattern);
    if (!segments) return std::nullopt;
    std::vector<std::string> out;
    while (auto segment = segments->nextObject()) out.push_back(segment->string());
    return out;
}

std::optional<std::string> tbx_stringByReplacingMatchesOfPattern(std::string_view string,
                                                                 std::string_view pattern,
                                                                 std::string_view replacement) {
    auto regex = NSDK_TBXRegex::regexWithPattern(pattern);
    if (!regex) return std::nullopt;
    return regex->stringByReplacingMatchesInString(string, replacement);
}
