#include "toolbox/Foundation/NIPLocale.h"

#include <gtest/gtest.h>

#include "platform/ns/Locale.h"
#include "platform/ns/PreferredLocalizations.h"
#include "platform/ns/UserDefaults.h"
#include "tests/platform/ns/SandboxFixture.h"

namespace {

class NIPLocaleTest : public testsupport::SandboxTest {
protected:
    void SetUp() override {
        testsupport::SandboxTest::SetUp();
        ns::UserDefaults::resetStandardUserDefaults();
    }
    void TearDown() override {
        NIPLocale::setCurrentLocale(std::nullopt);
        ns::UserDefaults::standardUserDefaults()->removeObjectForKey(ns::kAppleLanguagesKey);
        testsupport::SandboxTest::TearDown();
    }
    static void prefer(std::initializer_list<ns::Value> languages) {
        ns::UserDefaults::standardUserDefaults()->setObject(ns::kAppleLanguagesKey,
                                                            ns::Value(ns::Array(languages)));
    }
};

TEST_F(NIPLocaleTest, ServiceLanguageLocaleAndCountry) {
    struct Case {
        const char* language;
        const char* platformLocale;
        const char* serviceLanguage;
        const char* serviceLocale;
        const char* country;
    };
    const Case cases[] = {
        {"zh-Hant", "zh_HK", "zh-HK", "zh_HK", "hk"},
        {"zh-Hant", "zh_TW", "zh-TW", "zh_TW", "tw"},
        {"zh-Hans", "zh_CN", "zh-CN", "zh_CN", "cn"},
        {"pt", "pt_BR", "pt-BR", "pt_BR", "br"},
        {"pt", "pt_PT", "pt-PT", "pt_PT", "pt"},
        {"he", "he_IL", "iw", "iw_IL", "il"},
        {"nb", "nb_NO", "no", "no_NO", "no"},
        {"en", "en_GB", "en", "en_GB", "uk"},
        {"en", "en", "en", "en", "us"},
        // Three-letter languages keep every letter of their subtag.
        {"fil", "fil_PH", "fil", "fil_PH", "ph"},
    };
    NIPLocale locale;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.language) + " " + c.platformLocale);
        NIPLocale::setCurrentLocale(c.platformLocale);
        prefer({c.language});
        locale.recalculateLocale();
        EXPECT_EQ(locale.language(), c.serviceLanguage);
        EXPECT_EQ(locale.locale(), c.serviceLocale);
        EXPECT_EQ(locale.countryCode(), c.country);
    }
}

TEST_F(NIPLocaleTest, LocaleShapes) {
    NIPLocale locale;
    EXPECT_EQ(locale.serviceLocaleWithServiceLanguage("iw", "he_IL@calendar=hebrew"), "iw_IL");
    EXPECT_EQ(locale.serviceLocaleWithServiceLanguage("zh-HK", "zh_HK"), "zh_HK");
    EXPECT_EQ(locale.serviceLocaleWithServiceLanguage("x", "de_DE@x"), "de_DE@x");
    EXPECT_EQ(locale.serviceLocaleWithServiceLanguage("de", "de@x"), "de");
    EXPECT_EQ(locale.serviceLanguageWithAppleLanguages(std::nullopt), "en");
    EXPECT_EQ(locale.serviceLanguageWithAppleLanguages(std::vector<std::string>{}), "en");
    EXPECT_EQ(NIPLocale({{"fr", "fr-XX"}})
                  .serviceLanguageWithAppleLanguages(std::vector<std::string>{"fr", "de"}),
              "fr-XX");

    EXPECT_EQ(NIPLocale::countryCodeForLocale(std::nullopt), "us");
    EXPECT_EQ(NIPLocale::countryCodeForLocale("en_G"), "us");
    EXPECT_EQ(NIPLocale::countryCodeForLocale("a_b_c"), "us");
    EXPECT_EQ(NIPLocale::countryCodeForRegion("GB"), "uk");
    EXPECT_EQ(NIPLocale::countryCodeForRegion(std::nullopt), "us");
    EXPECT_EQ(NIPLocale::countryCodeForLanguage("fr"), "us");
}

TEST_F(NIPLocaleTest, LegalDocumentLanguage) {
    using V = std::vector<std::string>;
    EXPECT_EQ(NIPLocale::legalDocsLanguages().size(), 61u);
    EXPECT_EQ(NIPLocale::legalDocsLanguageForPreferences(V{"xx"}), "en");
    EXPECT_EQ(NIPLocale::legalDocsLanguageForPreferences(V{}), "en");
    EXPECT_EQ(NIPLocale::legalDocsLanguageForPreferences(V{"xx", "de-AT"}), "de");
    EXPECT_EQ(NIPLocale::legalDocsLanguageForPreferences(V{"zh-Hant"}), "zh-TW");
    EXPECT_EQ(NIPLocale::legalDocsLanguageForPreferences(V{"zh-Hans-CN"}), "zh-CN");
    EXPECT_EQ(NIPLocale::legalDocsLanguageForPreferences(V{"pt"}), "pt-BR");
    EXPECT_EQ(NIPLocale::legalDocsLanguageForPreferences(V{"pt_PT"}), "pt-PT");
    EXPECT_EQ(NIPLocale::legalDocsLanguageForPreferences(V{"en-GB"}), "en-GB");
    EXPECT_EQ(NIPLocale::legalDocsLanguageForPreferences(V{"fr-CA"}), "fr-CA");
    EXPECT_EQ(NIPLocale::legalDocsLanguageForPreferences(V{"fil-PH"}), "fil");
}

TEST_F(NIPLocaleTest, CurrentLocaleFollowsTheUserUntilSet) {
    ns::UserDefaults::standardUserDefaults()->setObject(ns::kAppleLocaleKey, "de_AT");
    EXPECT_EQ(NIPLocale::currentLocale(), "de_AT");
    EXPECT_EQ(NIPLocale::currentLocaleCountryCode(), "AT");
    NIPLocale::setCurrentLocale("fr_CA");
    EXPECT_EQ(NIPLocale::currentLocale(), "fr_CA");
    NIPLocale::setCurrentLocale(std::nullopt);
    EXPECT_EQ(NIPLocale::currentLocale(), "de_AT");
    ns::UserDefaults::standardUserDefaults()->removeObjectForKey(ns::kAppleLocaleKey);
    EXPECT_TRUE(NIPLocale::serviceLocale());
    EXPECT_EQ(NIPLocale::serviceLocale(), NIPLocale::serviceLocale());
}

}  // namespace
