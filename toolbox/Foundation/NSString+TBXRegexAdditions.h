#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "toolbox/Foundation/NSDK_TBXRegexEnumerator.h"

// One-call regular-expression questions about a string. Each compiles the pattern with no
// options; a pattern that does not compile answers false or nullopt/nullptr.

bool tbx_matchesPattern(std::string_view string, std::string_view pattern);
std::optional<std::vector<std::optional<std::string>>> tbx_subPatternsOfPattern(
    std::string_view string, std::string_view pattern);
std::optional<std::string> tbx_firstSubStringMatchedByPattern(std::string_view string,
                                                              std::string_view pattern);
bool tbx_subStringMatchesPattern(std::string_view string, std::string_view pattern);
std::shared_ptr<NSDK_TBXRegexEnumerator> tbx_segmentEnumeratorForPattern(std::string_view string,
                                                                         std::string_view pattern);
std::shared_ptr<NSDK_TBXRegexEnumerator> tbx_matchSegmentEnumeratorForPattern(
    std::string_view string, std::string_view pattern);
// The text of every match, in order.
std::optional<std::vector<std::string>> tbx_allSubstringsMatchedByPattern(std::string_view string,
                                                                          std::string_view pattern);
std::optional<std::string> tbx_stringByReplacingMatchesOfPattern(std::string_view string,
                                                                 std::string_view pattern,
                                                                 std::string_view replacement);
