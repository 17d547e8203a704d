#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ns {

// The user's locale and languages, read the way the platform reads them: an override in the
// standard user defaults first ("AppleLocale", "AppleLanguages"), then the environment.
class Locale {
public:
    // E.g. "en_US": "AppleLocale", else LC_ALL, LC_MESSAGES, LANG (encoding and modifier
    // dropped; "C" and "POSIX" skipped), else "en_US".
    static std::string currentLocaleIdentifier();
    // BCP-47 tags, most preferred first, e.g. {"de-DE", "en"}: "AppleLanguages", else the
    // entries of LANGUAGE and then LANG, else the current locale's language.
    static std::vector<std::string> preferredLanguages();
    // "en" and "US" of "en_US" or "en-US"; empty when the identifier has none.
    static std::string languageCode(std::string_view identifier);
    static std::string countryCode(std::string_view identifier);
    // "en-US" for "en_US"; empty for an identifier that is no locale.
    static std::string languageTag(std::string_view identifier);
};

// Keys of the standard user defaults that override the environment.
inline constexpr const char* kAppleLocaleKey = "AppleLocale";
inline constexpr const char* kAppleLanguagesKey = "AppleLanguages";

}  // namespace ns
