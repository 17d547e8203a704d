#include "toolbox/Foundation/NIPLocale.h"

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Locale.h"
#include "platform/ns/PreferredLocalizations.h"
#include "platform/ns/StringComponents.h"

namespace {

// Constant-initialised, so usable from any static initialiser.
dispatch::Mutex currentLocaleMutex;

std::optional<std::string>& currentLocaleOverride() REQUIRES(currentLocaleMutex) {
    static std::optional<std::string> identifier;
    return identifier;
}

std::string currentCountry() {
    return ns::Locale::countryCode(NIPLocale::currentLocale());
}

}  // namespace

std::shared_ptr<NIPLocale> NIPLocale::serviceLocale() {
    static auto* shared = new std::shared_ptr<NIPLocale>(std::make_shared<NIPLocale>());
    return *shared;
}

std::string NIPLocale::currentLocale() {
    dispatch::Lock lock(currentLocaleMutex);
    if (currentLocaleOverride()) return *currentLocaleOverride();
    return ns::Locale::currentLocaleIdentifier();
}

void NIPLocale::setCurrentLocale(std::optional<std::string> identifier) {
    dispatch::Lock lock(currentLocaleMutex);
    currentLocaleOverride() = std::move(identifier);
}

std::string NIPLocale::currentLocaleCountryCode() {
    return currentCountry();
}

const NIPLocale::LanguageMap& NIPLocale::defaultAppleToNebulaMapping() {
    static const LanguageMap mapping{
        {"zh-Hant", "zh-TW"}, {"zh-Hans", "zh-CN"}, {"nb", "no"}, {"he", "iw"}};
    return mapping;
}

const std::vector<std::string>& NIPLocale::legalDocsLanguages() {
    static const std::vector<std::string> languages{
        "en",    "ar",    "zh-CN", "zh-TW", "nl",    "en-GB", "fr",     "de", "it", "ja", "ko",
        "pl",    "pt-BR", "ru",    "es",    "th",    "tr",    "es-419", "bg", "ca", "hr", "cs",
        "da",    "fil",   "fi",    "el",    "iw",    "hi",    "hu",     "id", "lv", "lt", "no",
        "pt-PT", "ro",    "sr",    "sk",    "sl",    "sv",    "uk",     "vi", "fa", "af", "bn",
        "et",    "is",    "ms",    "mr",    "sw",    "ta",    "am",     "gu", "kn", "ml", "te",
        "ur",    "eu",    "gl",    "zu",    "zh-HK", "fr-CA"};
    return languages;
}

std::string NIPLocale::legalDocsLanguageForPreferences(
    const std::vector<std::string>& preferences) {
    auto best = ns::PreferredLocalizations::fromArray(legalDocsLanguages(), preferences);
    return best.empty() ? "en" : best.front();
}

std::string NIPLocale::countryCodeForLanguage(std::string_view /*language*/) {
    return "us";
}

std::string NIPLocale::countryCodeForRegion(const std::optional<std::string>& region) {
    if (!region) return "us";
    std::string lower = ns::asciiLowercased(*region);
    return lower == "gb" ? "uk" : lower;
}

std::string NIPLocale::countryCodeForLocale(const std::optional<std::string>& locale) {
    if (!locale) return "us";
    auto parts = ns::componentsSeparatedByCharacter(*locale, '_');
    if (parts.size() == 2 && parts[1].size() >= 2) {
        return countryCodeForRegion(std::string(parts[1]));
    }
    return "us";
}

NIPLocale::NIPLocale(LanguageMap mappings) : appleLanguageToServiceLanguage_(std::move(mappings)) {
    recalculateLocale();
}

void NIPLocale::recalculateLocale() {
    language_ = currentServiceLanguage();
    locale_ = currentServiceLocale();
    countryCode_ = currentServiceCountryCode();
}

std::string NIPLocale::currentServiceLanguage() const {
    return serviceLanguageWithAppleLanguages(ns::Locale::preferredLanguages());
}

std::string NIPLocale::currentServiceLocale() const {
    return serviceLocaleWithServiceLanguage(currentServiceLanguage(), currentLocale());
}

std::string NIPLocale::currentServiceCountryCode() const {
    return countryCodeForLocale(currentServiceLocale());
}

std::string NIPLocale::serviceLanguageWithAppleLanguages(
    const std::optional<std::vector<std::string>>& appleLanguages) const {
    std::string language =
        appleLanguages && !appleLanguages->empty() ? appleLanguages->front() : "en";
    if (language == "zh-Hant" && currentCountry() == "HK") return "zh-HK";
    if (language == "pt") return currentCountry() == "PT" ? "pt-PT" : "pt-BR";
    auto mapped = appleLanguageToServiceLanguage_.find(language);
    return mapped == appleLanguageToServiceLanguage_.end() ? language : mapped->second;
}

std::string NIPLocale::serviceLocaleWithServiceLanguage(std::string_view language,
                                                        std::string_view appleLocale) const {
    if (language.size() < 2) return std::string(appleLocale);
    std::string_view rest = appleLocale.substr(0, appleLocale.find('@'));
    auto parts = ns::componentsSeparatedByCharacter(rest, '_');
    if (parts.size() < 2) return std::string(rest);
    // The whole first subtag, so that three-letter languages ("fil") keep every letter.
    std::string_view subtag = language.substr(0, language.find('-'));
    return std::string(subtag) + "_" + std::string(parts[1]);
}
