#include "platform/ns/PreferredLocalizations.h"

#include <unicode/uloc.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>

namespace ns {
namespace {

struct Subtags {
    std::string tag;  // lower case, "-" separated
    std::string language;
    std::string script;
    std::string region;
};

std::string normalizedTag(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

template <class Fill>
std::string icuText(Fill fill) {
    char buffer[ULOC_FULLNAME_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    fill(buffer, ULOC_FULLNAME_CAPACITY, &status);
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING) return {};
    return buffer;
}

// The tag with its likely script and region filled in ("zh-TW" → zh, Hant, TW).
Subtags subtagsOf(std::string_view text) {
    Subtags out;
    out.tag = normalizedTag(text);
    if (out.tag.empty() || out.tag.size() >= ULOC_FULLNAME_CAPACITY) return out;
    std::string id = icuText([&](char* buffer, int32_t capacity, UErrorCode* status) {
        int32_t parsed = 0;
        uloc_forLanguageTag(out.tag.c_str(), buffer, capacity, &parsed, status);
    });
    if (id.empty()) return out;
    std::string full = icuText([&](char* buffer, int32_t capacity, UErrorCode* status) {
        uloc_addLikelySubtags(id.c_str(), buffer, capacity, status);
    });
    if (full.empty()) full = id;
    auto part = [&](auto get) {
        return icuText([&](char* buffer, int32_t capacity, UErrorCode* status) {
            get(full.c_str(), buffer, capacity, status);
        });
    };
    out.language = part(uloc_getLanguage);
    out.script = part(uloc_getScript);
    out.region = part(uloc_getCountry);
    return out;
}

// How well `offered` serves `wanted`: 3 same tag, 2 same language, script and region, 1 same
// language and script, 0 not at all.
int closeness(const Subtags& wanted, const Subtags& offered) {
    if (wanted.tag.empty() || offered.tag.empty()) return 0;
    if (wanted.tag == offered.tag) return 3;
    if (wanted.language.empty() || wanted.language != offered.language) return 0;
    if (wanted.script != offered.script) return 0;
    return wanted.region == offered.region ? 2 : 1;
}

}  // namespace

std::vector<std::string> PreferredLocalizations::fromArray(
    const std::vector<std::string>& localizations, const std::vector<std::string>& preferences) {
    std::vector<Subtags> offered;
    offered.reserve(localizations.size());
    for (const auto& entry : localizations) offered.push_back(subtagsOf(entry));
    for (const auto& preference : preferences) {
        Subtags wanted = subtagsOf(preference);
        int best = 0;
        std::optional<size_t> bestIndex;
        for (size_t i = 0; i < offered.size(); ++i) {
            int score = closeness(wanted, offered[i]);
            if (score > best) {
                best = score;
                bestIndex = i;
            }
        }
        if (bestIndex) return {localizations[*bestIndex]};
    }
    return {};
}

}  // namespace ns
