#include "toolbox/Foundation/NSDK_TBXRegex.h"

#include <climits>

#include "platform/ns/Format.h"
#include "toolbox/Foundation/NSDK_TBXRegexEnumerator.h"

namespace {

constexpr std::string_view kPatternSpecialCharacters = "$()*+.?[\\^{|";
constexpr size_t kNoSubPattern = SIZE_MAX;

// One piece of a replacement template: literal text, then optionally a sub-pattern.
struct ReplacementPiece {
    std::string literal;
    size_t subPattern = kNoSubPattern;
};

size_t parseBackReferenceNumber(std::string_view digits) {
    size_t n = 0;
    for (char c : digits) {
        const auto d = static_cast<size_t>(c - '0');
        if (n > (SIZE_MAX - 1 - d) / 10) return kNoSubPattern;  // too large for any expression
        n = n * 10 + d;
    }
    return n;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Cuts the replacement at every "\N" whose backslash is not itself escaped: an odd run of
// backslashes before digits is escaped pairs plus a back reference; an even run is literal.
// Escaped backslashes are kept as they stand.
std::vector<ReplacementPiece> parseReplacement(std::string_view replacement) {
    std::vector<ReplacementPiece> pieces(1);
    size_t i = 0;
    while (i < replacement.size()) {
        if (replacement[i] != '\\') {
            pieces.back().literal += replacement[i++];
            continue;
        }
        size_t runEnd = i;
        while (runEnd < replacement.size() && replacement[runEnd] == '\\') ++runEnd;
        const size_t run = runEnd - i;
        if (run % 2 == 1 && runEnd < replacement.size() && isDigit(replacement[runEnd])) {
            size_t digitsEnd = runEnd;
            while (digitsEnd < replacement.size() && isDigit(replacement[digitsEnd])) ++digitsEnd;
            pieces.back().literal.append(run - 1, '\\');
            pieces.back().subPattern =
                parseBackReferenceNumber(replacement.substr(runEnd, digitsEnd - runEnd));
            pieces.emplace_back();
            i = digitsEnd;
        } else {
            pieces.back().literal.append(run, '\\');
            i = runEnd;
        }
    }
    return pieces;
}

}  // namespace

std::shared_ptr<NSDK_TBXRegex> NSDK_TBXRegex::regexWithPattern(std::string_view pattern,
                                                               uint64_t options) {
    auto result = regexWithPatternWithError(pattern, options);
    return result.valueOr(nullptr);
}

ns::Result<std::shared_ptr<NSDK_TBXRegex>> NSDK_TBXRegex::regexWithPatternWithError(
    std::string_view pattern, uint64_t options) {
    if (pattern.empty()) return std::shared_ptr<NSDK_TBXRegex>();
    std::shared_ptr<NSDK_TBXRegex> regex(new NSDK_TBXRegex(pattern, options));
    std::string patternError;
    if (pattern.find('\0') != std::string_view::npos) {
        // The compiler reads a C string: it would silently drop everything after the NUL.
        patternError = "pattern contains a NUL character";
    } else {
        int flags = REG_EXTENDED;
        if (options & kTBXRegexOptionIgnoreCase) flags |= REG_ICASE;
        if (!(options & kTBXRegexOptionNoNewlineSupport)) flags |= REG_NEWLINE;
        const int rc = regcomp(&regex->regexData_, regex->pattern_.c_str(), flags);
        if (rc == 0) {
            regex->compiled_ = true;
            return regex;
        }
        patternError = regex->errorMessage(rc);
    }
    return ns::Error(kTBXRegexErrorDomain, kTBXRegexPatternParseFailedError,
                     {{kTBXRegexPatternErrorPattern, ns::Value(pattern)},
                      {kTBXRegexPatternErrorErrorString, ns::Value(patternError)}});
}

NSDK_TBXRegex::~NSDK_TBXRegex() {
    if (compiled_) regfree(&regexData_);
}

std::string NSDK_TBXRegex::escapedPatternForString(std::string_view string) {
    std::string out;
    out.reserve(string.size());
    for (char c : string) {
        if (kPatternSpecialCharacters.find(c) != std::string_view::npos) out += '\\';
        out += c;
    }
    return out;
}

std::string NSDK_TBXRegex::errorMessage(int code) const {
    char buffer[512];
    if (regerror(code, &regexData_, buffer, sizeof buffer) == 0) return "internal error";
    return buffer;
}

bool NSDK_TBXRegex::runRegexOnUTF8(std::string_view utf8, size_t start, bool notBOL,
                                   NSDK_TBXRegexStringSegment::Ranges& regMatches) const {
    if (start > utf8.size()) return false;
    const size_t length = utf8.size() - start;
    if (length > static_cast<size_t>(INT_MAX)) return false;  // beyond the matcher's offsets
    // The search runs on the tail alone: a start offset inside the string would keep "^"
    // from ever matching there, whatever the flags say.
    const char* tail = utf8.data() ? utf8.data() + start : "";
    std::vector<regmatch_t> matches(subPatternCount() + 1);
    matches[0].rm_so = 0;
    matches[0].rm_eo = static_cast<regoff_t>(length);
    const int flags = REG_STARTEND | (notBOL ? REG_NOTBOL : 0);
    if (regexec(&regexData_, tail, matches.size(), matches.data(), flags) != 0) return false;
    regMatches.clear();
    const auto offset = static_cast<int64_t>(start);
    for (const auto& m : matches) {
        if (m.rm_so < 0) {
            regMatches.emplace_back(-1, -1);
        } else {
            regMatches.emplace_back(m.rm_so + offset, m.rm_eo + offset);
        }
    }
    return true;
}

bool NSDK_TBXRegex::matchesString(std::string_view string) const {
    NSDK_TBXRegexStringSegment::Ranges m;
    return runRegexOnUTF8(string, 0, false, m) && m[0].first == 0 &&
           m[0].second == static_cast<int64_t>(string.size());
}

std::optional<std::vector<std::optional<std::string>>> NSDK_TBXRegex::subPatternsOfString(
    std::string_view string) const {
    NSDK_TBXRegexStringSegment::Ranges m;
    if (!runRegexOnUTF8(string, 0, false, m) || m[0].first != 0 ||
        m[0].second != static_cast<int64_t>(string.size())) {
        return std::nullopt;
    }
    std::vector<std::optional<std::string>> out;
    for (const auto& [start, end] : m) {
        if (start < 0) {
            out.emplace_back();
        } else {
            out.emplace_back(std::string(
                string.substr(static_cast<size_t>(start), static_cast<size_t>(end - start))));
        }
    }
    return out;
}

std::optional<std::string> NSDK_TBXRegex::firstSubStringMatchedInString(
    std::string_view string) const {
    NSDK_TBXRegexStringSegment::Ranges m;
    if (!runRegexOnUTF8(string, 0, false, m)) return std::nullopt;
    return std::string(string.substr(static_cast<size_t>(m[0].first),
                                     static_cast<size_t>(m[0].second - m[0].first)));
}

bool NSDK_TBXRegex::matchesSubStringInString(std::string_view string) const {
    NSDK_TBXRegexStringSegment::Ranges m;
    return runRegexOnUTF8(string, 0, false, m);
}

std::shared_ptr<NSDK_TBXRegexEnumerator> NSDK_TBXRegex::segmentEnumeratorForString(
    std::string_view string) const {
    return NSDK_TBXRegexEnumerator::initWithRegex(shared_from_this(), string, true);
}

std::shared_ptr<NSDK_TBXRegexEnumerator> NSDK_TBXRegex::matchSegmentEnumeratorForString(
    std::string_view string) const {
    return NSDK_TBXRegexEnumerator::initWithRegex(shared_from_this(), string, false);
}

std::string NSDK_TBXRegex::stringByReplacingMatchesInString(std::string_view string,
                                                            std::string_view replacement) const {
    const auto pieces = parseReplacement(replacement);
    std::string out;
    out.reserve(string.size());
    auto segments = segmentEnumeratorForString(string);
    while (auto segment = segments->nextObject()) {
        if (!segment->isMatch()) {
            out += segment->string();
            continue;
        }
        for (const auto& piece : pieces) {
            out += piece.literal;
            if (piece.subPattern == kNoSubPattern) continue;
            if (auto text = segment->subPatternString(piece.subPattern)) out += *text;
        }
    }
    return out;
}

std::string NSDK_TBXRegex::description() const {
    std::string out = ns::format("NSDK_TBXRegex<%p> { pattern=\"", this) + pattern_ +
                      "\", rawNumSubPatterns=" + std::to_string(subPatternCount()) + ", options=(";
    if (options_ & kTBXRegexOptionIgnoreCase) out += " IgnoreCase";
    if (options_ & kTBXRegexOptionNoNewlineSupport) out += " NoNewlineSupport";
    if (!(options_ & (kTBXRegexOptionIgnoreCase | kTBXRegexOptionNoNewlineSupport))) {
        out += " None(Default)";
    }
    return out + " ) }";
}
