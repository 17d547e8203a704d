#include "platform/ns/Locale.h"

#include <unicode/uloc.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "platform/ns/UserDefaults.h"

namespace ns {
namespace {

constexpr int32_t kCapacity = ULOC_FULLNAME_CAPACITY;

// "de_DE.UTF-8@euro" → "de_DE"; nothing for the POSIX locale.
std::optional<std::string> fromPosixName(std::string_view name) {
    auto end = name.find_first_of(".@");
    if (end != std::string_view::npos) name = name.substr(0, end);
    if (name.empty() || name == "C" || name == "POSIX") return std::nullopt;
    return std::string(name);
}

// The text an ICU call writes into a buffer; empty when it fails or does not fit.
template <class Fill>
std::string icuText(Fill fill) {
    char buffer[kCapacity] = {};
    UErrorCode status = U_ZERO_ERROR;
    fill(buffer, kCapacity, &status);
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING) return {};
    return buffer;
}

// ICU's form ("en_US") of an identifier written either way.
std::string icuIdentifier(std::string_view identifier) {
    std::string id(identifier);
    return icuText([&](char* buffer, int32_t capacity, UErrorCode* status) {
        if (id.find('-') != std::string::npos) {
            int32_t parsed = 0;
            uloc_forLanguageTag(id.c_str(), buffer, capacity, &parsed, status);
        } else {
            uloc_canonicalize(id.c_str(), buffer, capacity, status);
        }
    });
}

const char* environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

}  // namespace

std::string Locale::currentLocaleIdentifier() {
    Value override = UserDefaults::standardUserDefaults()->objectForKey(kAppleLocaleKey);
    if (const std::string* s = override.string()) {
        std::string id = icuIdentifier(*s);
        if (!id.empty()) return id;
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = environmentValue(name);
        if (!value) continue;
        if (auto posix = fromPosixName(value)) {
            std::string id = icuIdentifier(*posix);
            if (!id.empty()) return id;
        }
    }
    return "en_US";
}

std::vector<std::string> Locale::preferredLanguages() {
    std::vector<std::string> tags;
    auto add = [&tags](std::string_view identifier) {
        std::string tag = languageTag(identifier);
        if (!tag.empty() && std::find(tags.begin(), tags.end(), tag) == tags.end()) {
            tags.push_back(tag);
        }
    };
    Value override = UserDefaults::standardUserDefaults()->objectForKey(kAppleLanguagesKey);
    if (const Array* list = override.array()) {
        for (const auto& entry : *list) {
            if (const std::string* s = entry.string()) add(*s);
        }
        if (!tags.empty()) return tags;
    }
    if (const char* language = environmentValue("LANGUAGE")) {
        std::string_view rest(language);
        while (!rest.empty()) {
            auto colon = rest.find(':');
            if (auto posix = fromPosixName(rest.substr(0, colon))) add(*posix);
            if (colon == std::string_view::npos) break;
            rest.remove_prefix(colon + 1);
        }
    }
    if (const char* lang = environmentValue("LANG")) {
        if (auto posix = fromPosixName(lang)) add(*posix);
    }
    if (tags.empty()) add(currentLocaleIdentifier());
    return tags;
}

std::string Locale::languageCode(std::string_view identifier) {
    std::string id = icuIdentifier(identifier);
    return icuText([&](char* buffer, int32_t capacity, UErrorCode* status) {
        uloc_getLanguage(id.c_str(), buffer, capacity, status);
    });
}

std::string Locale::countryCode(std::string_view identifier) {
    std::string id = icuIdentifier(identifier);
    return icuText([&](char* buffer, int32_t capacity, UErrorCode* status) {
        uloc_getCountry(id.c_str(), buffer, capacity, status);
    });
}

std::string Locale::languageTag(std::string_view identifier) {
    std::string id = icuIdentifier(identifier);
    if (id.empty()) return {};
    std::string tag = icuText([&](char* buffer, int32_t capacity, UErrorCode* status) {
        uloc_toLanguageTag(id.c_str(), buffer, capacity, false, status);
    });
    return tag == "und" ? std::string() : tag;
}

}  // namespace ns
