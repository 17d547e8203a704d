#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/Object.h"

// The language codes, locale identifiers and country codes that web services expect, derived
// from the user's preferred languages and current locale ("zh-Hant" becomes "zh-TW", Hebrew is
// "iw", Norwegian Bokmål "no", the United Kingdom "uk").
//
// Locales are handled as identifiers ("en_GB"); the current one is the user's locale, read
// afresh on each use, unless one was set. Instances are not synchronised.
class NIPLocale : public ns::Object {
public:
    using LanguageMap = std::map<std::string, std::string, std::less<>>;

    // A shared instance, made once.
    static std::shared_ptr<NIPLocale> serviceLocale();

    // The locale identifier that every computation uses.
    static std::string currentLocale();
    // Nothing restores the user's locale.
    static void setCurrentLocale(std::optional<std::string> identifier);
    static std::string currentLocaleCountryCode();

    // The supported legal-document language that best serves the preferences, else "en".
    static std::string legalDocsLanguageForPreferences(const std::vector<std::string>& preferences);
    static std::string countryCodeForLanguage(std::string_view language);
    // Lower-cased, "gb" as "uk"; "us" for none.
    static std::string countryCodeForRegion(const std::optional<std::string>& region);
    // The region of "language_REGION" by countryCodeForRegion; "us" for any other shape.
    static std::string countryCodeForLocale(const std::optional<std::string>& locale);

    static const LanguageMap& defaultAppleToNebulaMapping();
    static const std::vector<std::string>& legalDocsLanguages();

    NIPLocale() : NIPLocale(defaultAppleToNebulaMapping()) {}
    explicit NIPLocale(LanguageMap mappings);

    // Computes language, locale and country code again.
    void recalculateLocale();

    // Of the user's preferred languages.
    std::string currentServiceLanguage() const;
    std::string currentServiceLocale() const;
    std::string currentServiceCountryCode() const;

    // The first preferred language ("en" for none) as the service names it.
    std::string serviceLanguageWithAppleLanguages(
        const std::optional<std::vector<std::string>>& appleLanguages) const;
    // The language's own subtag (up to its first "-") with the region of the platform locale:
    // "iw" and "he_IL@calendar=hebrew" give "iw_IL".
    std::string serviceLocaleWithServiceLanguage(std::string_view language,
                                                 std::string_view appleLocale) const;

    const std::string& language() const { return language_; }
    void setLanguage(std::string language) { language_ = std::move(language); }
    const std::string& locale() const { return locale_; }
    void setLocale(std::string locale) { locale_ = std::move(locale); }
    const std::string& countryCode() const { return countryCode_; }
    void setCountryCode(std::string countryCode) { countryCode_ = std::move(countryCode); }

private:
    LanguageMap appleLanguageToServiceLanguage_;
    std::string language_;
    std::string locale_;
    std::string countryCode_;
};
