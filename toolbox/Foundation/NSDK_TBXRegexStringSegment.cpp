#include "toolbox/Foundation/NSDK_TBXRegexStringSegment.h"

#include "platform/ns/Format.h"

std::shared_ptr<NSDK_TBXRegexStringSegment> NSDK_TBXRegexStringSegment::initWithUTF8StrBuf(
    std::shared_ptr<const std::string> utf8StrBuf, Ranges regMatches, size_t numRegMatches,
    bool isMatch) {
    if (!utf8StrBuf || regMatches.size() != numRegMatches + 1) return nullptr;
    const auto length = static_cast<int64_t>(utf8StrBuf->size());
    for (const auto& [start, end] : regMatches) {
        const bool absent = start == -1 && end == -1;
        if (!absent && !(0 <= start && start <= end && end <= length)) return nullptr;
    }
    return std::shared_ptr<NSDK_TBXRegexStringSegment>(new NSDK_TBXRegexStringSegment(
        std::move(utf8StrBuf), std::move(regMatches), numRegMatches, isMatch));
}

std::string NSDK_TBXRegexStringSegment::string() const {
    return *subPatternString(0);
}

std::optional<std::string> NSDK_TBXRegexStringSegment::subPatternString(size_t index) const {
    if (index > numRegMatches_) return std::nullopt;
    const auto [start, end] = regMatches_[index];
    if (start == -1) return std::nullopt;
    return utf8StrBuf_->substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
}

std::string NSDK_TBXRegexStringSegment::description() const {
    std::string out = ns::format("NSDK_TBXRegexStringSegment<%p> { isMatch=\"%s\", subPatterns=(",
                                 this, isMatch_ ? "YES" : "NO");
    for (size_t i = 0; i <= numRegMatches_; ++i) {
        out += i == 0 ? " \"" : ", \"";
        out += subPatternString(i).value_or("");
        out += "\"";
    }
    return out + " ) }";
}
