#include "toolbox/Foundation/NSDK_TBXRegexEnumerator.h"

#include <algorithm>

#include "platform/ns/Format.h"
#include "toolbox/Foundation/NSDK_TBXRegex.h"

std::shared_ptr<NSDK_TBXRegexEnumerator> NSDK_TBXRegexEnumerator::initWithRegex(
    std::shared_ptr<const NSDK_TBXRegex> regex, std::string_view string, bool allSegments) {
    if (!regex) return nullptr;
    return std::shared_ptr<NSDK_TBXRegexEnumerator>(
        new NSDK_TBXRegexEnumerator(std::move(regex), string, allSegments));
}

NSDK_TBXRegexEnumerator::NSDK_TBXRegexEnumerator(std::shared_ptr<const NSDK_TBXRegex> regex,
                                                 std::string_view string, bool allSegments)
    : regex_(std::move(regex)),
      utf8StrBuf_(std::make_shared<const std::string>(string)),
      allSegments_(allSegments) {}

std::shared_ptr<NSDK_TBXRegexStringSegment> NSDK_TBXRegexEnumerator::segment(
    NSDK_TBXRegexStringSegment::Ranges ranges, bool isMatch) const {
    return NSDK_TBXRegexStringSegment::initWithUTF8StrBuf(utf8StrBuf_, std::move(ranges),
                                                          regex_->subPatternCount(), isMatch);
}

std::shared_ptr<NSDK_TBXRegexStringSegment> NSDK_TBXRegexEnumerator::nonMatch(size_t start,
                                                                              size_t end) const {
    NSDK_TBXRegexStringSegment::Ranges ranges(regex_->subPatternCount() + 1, {-1, -1});
    ranges[0] = {static_cast<int64_t>(start), static_cast<int64_t>(end)};
    return segment(std::move(ranges), false);
}

// Whether "^" may match where the next search starts: at the start of the string, after a
// newline when the expression is newline-sensitive, or at a new segment when asked to.
bool NSDK_TBXRegexEnumerator::searchStartIsLineStart() const {
    if (searchIndex_ == 0) return true;
    if (treatStartOfNewSegmentAsBeginningOfString_ && searchIndex_ == curParseIndex_) return true;
    const bool newlineSensitive = !(regex_->options() & kTBXRegexOptionNoNewlineSupport);
    return newlineSensitive && (*utf8StrBuf_)[static_cast<size_t>(searchIndex_) - 1] == '\n';
}

void NSDK_TBXRegexEnumerator::advancePast(int64_t matchStart, int64_t matchEnd) {
    curParseIndex_ = matchEnd;
    searchIndex_ = matchEnd;
    if (matchStart != matchEnd) return;
    // An empty match: search again one whole UTF-8 character further on.
    const auto& s = *utf8StrBuf_;
    auto next = static_cast<size_t>(matchEnd) + 1;
    while (next < s.size() && (static_cast<uint8_t>(s[next]) & 0xC0) == 0x80) ++next;
    searchIndex_ = static_cast<int64_t>(std::min(next, s.size()));
}

std::shared_ptr<NSDK_TBXRegexStringSegment> NSDK_TBXRegexEnumerator::nextObject() {
    if (savedRegMatches_) {
        auto saved = std::move(*savedRegMatches_);
        savedRegMatches_.reset();
        return segment(std::move(saved), true);
    }
    const auto length = static_cast<int64_t>(utf8StrBuf_->size());
    if (curParseIndex_ >= length) return nullptr;

    NSDK_TBXRegexStringSegment::Ranges ranges;
    if (!regex_->runRegexOnUTF8(*utf8StrBuf_, static_cast<size_t>(searchIndex_),
                                !searchStartIsLineStart(), ranges)) {
        const auto start = static_cast<size_t>(curParseIndex_);
        curParseIndex_ = searchIndex_ = length;
        return allSegments_ ? nonMatch(start, static_cast<size_t>(length)) : nullptr;
    }
    const auto [matchStart, matchEnd] = ranges[0];
    if (allSegments_ && matchStart > curParseIndex_) {
        auto between =
            nonMatch(static_cast<size_t>(curParseIndex_), static_cast<size_t>(matchStart));
        savedRegMatches_ = std::move(ranges);
        advancePast(matchStart, matchEnd);
        return between;
    }
    advancePast(matchStart, matchEnd);
    return segment(std::move(ranges), true);
}

std::string NSDK_TBXRegexEnumerator::description() const {
    return ns::format("NSDK_TBXRegexEnumerator<%p>", this) + " { regex=\"" + regex_->description() +
           "\", allSegments=" + (allSegments_ ? "YES" : "NO") + ", string=\"" +
           utf8StrBuf_->substr(0, std::min(utf8StrBuf_->find('\0'), size_t{20})) + "...\" }";
}
