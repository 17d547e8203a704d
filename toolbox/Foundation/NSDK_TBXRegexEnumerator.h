#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "toolbox/Foundation/NSDK_TBXRegexStringSegment.h"

class NSDK_TBXRegex;

// Walks a string segment by segment: the matches of a regular expression and, when asked,
// the text between them.
class NSDK_TBXRegexEnumerator {
public:
    // nullptr without a regex.
    static std::shared_ptr<NSDK_TBXRegexEnumerator> initWithRegex(
        std::shared_ptr<const NSDK_TBXRegex> regex, std::string_view string, bool allSegments);

    // With it set, "^" may match at the start of every new segment, not only at the start of
    // the string (and after a newline, when the expression is newline-sensitive).
    void treatStartOfNewSegmentAsBeginningOfString(bool yesNo) {
        treatStartOfNewSegmentAsBeginningOfString_ = yesNo;
    }

    // The next segment, or nullptr when the string is used up.
    std::shared_ptr<NSDK_TBXRegexStringSegment> nextObject();

    std::string description() const;

private:
    NSDK_TBXRegexEnumerator(std::shared_ptr<const NSDK_TBXRegex> regex, std::string_view string,
                            bool allSegments);
    std::shared_ptr<NSDK_TBXRegexStringSegment> segment(NSDK_TBXRegexStringSegment::Ranges ranges,
                                                        bool isMatch) const;
    std::shared_ptr<NSDK_TBXRegexStringSegment> nonMatch(size_t start, size_t end) const;
    bool searchStartIsLineStart() const;
    void advancePast(int64_t matchStart, int64_t matchEnd);

    std::shared_ptr<const NSDK_TBXRegex> regex_;
    std::shared_ptr<const std::string> utf8StrBuf_;
    bool allSegments_;
    bool treatStartOfNewSegmentAsBeginningOfString_ = false;
    // Where the next segment starts.
    int64_t curParseIndex_ = 0;
    // Where the next search starts: past the parse position by one character after an empty
    // match, so that enumeration always moves on.
    int64_t searchIndex_ = 0;
    std::optional<NSDK_TBXRegexStringSegment::Ranges> savedRegMatches_;
};
