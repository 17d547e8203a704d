#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// One piece of a string cut by a regular expression: a match with its sub-pattern captures,
// or the text between matches. Offsets are UTF-8 byte offsets into the shared string.
class NSDK_TBXRegexStringSegment {
public:
    // [start, end) of the whole segment and of each sub-pattern; {-1, -1} for a sub-pattern
    // that took no part.
    using Ranges = std::vector<std::pair<int64_t, int64_t>>;

    // nullptr when the string or the ranges are missing. `numRegMatches` is the sub-pattern
    // count; `regMatches` holds numRegMatches + 1 ranges.
    static std::shared_ptr<NSDK_TBXRegexStringSegment> initWithUTF8StrBuf(
        std::shared_ptr<const std::string> utf8StrBuf, Ranges regMatches, size_t numRegMatches,
        bool isMatch);

    bool isMatch() const { return isMatch_; }
    // The text of the whole segment.
    std::string string() const;
    // The text of a sub-pattern (0 is the whole segment); nullopt beyond the sub-pattern count
    // or for a sub-pattern that took no part.
    std::optional<std::string> subPatternString(size_t index) const;
    std::string description() const;

private:
    NSDK_TBXRegexStringSegment(std::shared_ptr<const std::string> utf8StrBuf, Ranges regMatches,
                               size_t numRegMatches, bool isMatch)
        : utf8StrBuf_(std::move(utf8StrBuf)),
          regMatches_(std::move(regMatches)),
          numRegMatches_(numRegMatches),
          isMatch_(isMatch) {}

    std::shared_ptr<const std::string> utf8StrBuf_;
    Ranges regMatches_;
    size_t numRegMatches_;
    bool isMatch_;
};
