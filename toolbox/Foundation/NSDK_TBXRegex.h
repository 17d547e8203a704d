#pragma once

#include <regex.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/Result.h"
#include "toolbox/Foundation/NSDK_TBXRegexStringSegment.h"

class NSDK_TBXRegexEnumerator;

inline constexpr uint64_t kTBXRegexOptionIgnoreCase = 1;
// "^" and "$" match only at the ends of the string and "." matches a newline.
inline constexpr uint64_t kTBXRegexOptionNoNewlineSupport = 2;

inline constexpr const char* kTBXRegexErrorDomain = "com.nebula.toolbox.RegexDomain";
inline constexpr int64_t kTBXRegexPatternParseFailedError = -100;
inline constexpr const char* kTBXRegexPatternErrorPattern = "pattern";
inline constexpr const char* kTBXRegexPatternErrorErrorString = "patternError";

// A compiled POSIX extended regular expression. All matching works on UTF-8 bytes and
// answers byte offsets.
class NSDK_TBXRegex : public std::enable_shared_from_this<NSDK_TBXRegex> {
public:
    // nullptr for an empty pattern or one that does not compile.
    static std::shared_ptr<NSDK_TBXRegex> regexWithPattern(std::string_view pattern,
                                                           uint64_t options = 0);
    // As above, but a pattern that does not compile gives an error of kTBXRegexErrorDomain
    // with the pattern and the compiler's message. An empty pattern gives nullptr, no error.
    static ns::Result<std::shared_ptr<NSDK_TBXRegex>> regexWithPatternWithError(
        std::string_view pattern, uint64_t options = 0);

    // The string with a backslash before each character that is special in a pattern.
    static std::string escapedPatternForString(std::string_view string);

    ~NSDK_TBXRegex();
    NSDK_TBXRegex(const NSDK_TBXRegex&) = delete;
    NSDK_TBXRegex& operator=(const NSDK_TBXRegex&) = delete;

    const std::string& pattern() const { return pattern_; }
    uint64_t options() const { return options_; }
    size_t subPatternCount() const { return regexData_.re_nsub; }

    // Whether the whole string matches.
    bool matchesString(std::string_view string) const;
    // For a whole-string match: the match, then each sub-pattern's text (nullopt for one that
    // took no part).
    std::optional<std::vector<std::optional<std::string>>> subPatternsOfString(
        std::string_view string) const;
    std::optional<std::string> firstSubStringMatchedInString(std::string_view string) const;
    bool matchesSubStringInString(std::string_view string) const;

    std::shared_ptr<NSDK_TBXRegexEnumerator> segmentEnumeratorForString(
        std::string_view string) const;
    std::shared_ptr<NSDK_TBXRegexEnumerator> matchSegmentEnumeratorForString(
        std::string_view string) const;

    // Every match replaced: "\N" in the replacement stands for sub-pattern N of the match
    // (nothing when there is no such sub-pattern or it took no part); an escaped backslash
    // before the number keeps the text as it stands.
    std::string stringByReplacingMatchesInString(std::string_view string,
                                                 std::string_view replacement) const;

    std::string description() const;

    // Runs the expression on utf8[start, end of string) and answers the ranges (offsets into
    // the whole string) of the match and its sub-patterns. With `notBOL`, "^" does not match
    // at `start`.
    bool runRegexOnUTF8(std::string_view utf8, size_t start, bool notBOL,
                        NSDK_TBXRegexStringSegment::Ranges& regMatches) const;

private:
    NSDK_TBXRegex(std::string_view pattern, uint64_t options)
        : pattern_(pattern), options_(options) {}
    std::string errorMessage(int code) const;

    std::string pattern_;
    uint64_t options_;
    regex_t regexData_{};
    bool compiled_ = false;
};
