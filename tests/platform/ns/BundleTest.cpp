#include "platform/ns/Bundle.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/ns/Locale.h"
#include "platform/ns/PropertyListSerialization.h"
#include "platform/ns/UserDefaults.h"
#include "tests/platform/ns/SandboxFixture.h"
#include "tests/support/LogCapture.h"

namespace {

namespace fs = std::filesystem;
using ns::Bundle;

// Sets or clears an environment variable for the life of the guard.
class EnvGuard {
public:
    EnvGuard(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        if (old) saved_ = old;
        hadValue_ = old != nullptr;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~EnvGuard() {
        if (hadValue_) {
            ::setenv(name_, saved_.c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::string saved_;
    bool hadValue_ = false;
};

class BundleTest : public testsupport::SandboxTest {
protected:
    void SetUp() override {
        testsupport::SandboxTest::SetUp();
        root = path("App.app");
        put("www/index.html", "<html/>");
        put("www/img/logo.png", "png");
        put("en.lproj/Localizable.strings", "\"hello\" = \"Hello\"; \"only.en\" = \"English\";");
        put("de.lproj/Localizable.strings", "\"hello\" = \"Hallo\";");
        put("de.lproj/flag.png", "de");
        put("Base.lproj/Other.strings", "\"title\" = \"Base title\";");
        put("fr.lproj/Localizable.strings", "\"hello\" = ");  // malformed
        put("Info.plist",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>CFBundleIdentifier</key><string>org.example.app</string>"
            "<key>Count</key><integer>3</integer></dict></plist>");
    }
    void TearDown() override {
        ns::UserDefaults::standardUserDefaults()->removeObjectForKey(ns::kAppleLanguagesKey);
        testsupport::SandboxTest::TearDown();
    }
    void put(const std::string& rel, const std::string& text) {
        fs::create_directories(fs::path(root + "/" + rel).parent_path());
        std::ofstream(root + "/" + rel) << text;
    }
    void prefer(std::initializer_list<ns::Value> languages) {
        ns::UserDefaults::standardUserDefaults()->setObject(ns::kAppleLanguagesKey,
                                                            ns::Value(ns::Array(languages)));
    }

    std::string root;
};

TEST_F(BundleTest, InfoDictionaryFromXmlOrBinary) {
    auto bundle = Bundle::bundleWithPath(root);
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->bundleIdentifier(), "org.example.app");
    EXPECT_EQ(bundle->objectForInfoDictionaryKey("Count"), ns::Value(3));
    EXPECT_TRUE(bundle->objectForInfoDictionaryKey("Missing").isNull());

    auto binary =
        ns::PropertyListSerialization::write(ns::Value::dict({{"CFBundleIdentifier", "bin.app"}}),
                                             ns::PropertyListSerialization::Format::Binary);
    ASSERT_TRUE(binary.ok());
    fs::create_directories(path("Bin.app"));
    std::ofstream(path("Bin.app/Info.plist"), std::ios::binary)
        .write(binary->chars().data(), static_cast<std::streamsize>(binary->length()));
    EXPECT_EQ(Bundle::bundleWithPath(path("Bin.app"))->bundleIdentifier(), "bin.app");

    EXPECT_FALSE(Bundle::bundleWithPath(path("Missing.app")));
    EXPECT_TRUE(Bundle(path("Bare")).infoDictionary().empty());
}

// What keeps Info.plist from being read names the file and says why and, where the file has
// lines, on which; a bundle without one has nothing wrong and an empty dictionary.
TEST_F(BundleTest, InfoDictionaryProblemNamesTheFileAndWhy) {
    const std::string file = root + "/Info.plist";
    const std::pair<std::string, std::string> unreadable[] = {
        {"<plist version=\"1.0\"><dict>\n<key>A</key><string>b</strin>\n</dict></plist>",
         ": XML error on line 2: mismatched tag"},
        {"<plist><dict><key>A</key></dict></plist>", ": <key> without a value on line 1"},
        {"<plist><array><string>a</string></array></plist>", ": not a dictionary"},
        {"", ": Cannot parse a NULL or zero-length data"},
        {"bplist00\x01", ""},  // a broken binary list: the reader's reason, whatever it is
    };
    for (const auto& [text, problem] : unreadable) {
        SCOPED_TRACE(text);
        put("Info.plist", text);
        const auto found = Bundle(root).infoDictionaryProblem();
        ASSERT_TRUE(found);
        EXPECT_EQ(found->rfind(file + ": ", 0), 0u) << *found;
        if (!problem.empty()) EXPECT_EQ(*found, file + problem);
        testsupport::LogCapture log;
        log.expect("Ignoring the unreadable " + *found);
        EXPECT_TRUE(Bundle(root).infoDictionary().empty());
    }
    fs::remove(file);
    fs::create_directory(file);
    EXPECT_EQ(Bundle(root).infoDictionaryProblem(), file + ": Is a directory");
    fs::remove(file);
    EXPECT_EQ(Bundle(root).infoDictionaryProblem(), std::nullopt);
    put("Info.plist", "<plist><dict><key>A</key><string>b</string></dict></plist>");
    EXPECT_EQ(Bundle(root).infoDictionaryProblem(), std::nullopt);
}

TEST_F(BundleTest, ResourceLookupStaysInsideTheBundle) {
    Bundle bundle(root);
    EXPECT_EQ(bundle.pathForResource("logo.png", "", "www/img"), root + "/www/img/logo.png");
    EXPECT_EQ(bundle.pathForResource("logo", "png", "www/img"), root + "/www/img/logo.png");
    EXPECT_EQ(bundle.pathForResource("logo", ".png", "www/img"), root + "/www/img/logo.png");
    EXPECT_EQ(bundle.pathForResource("img/logo.png", "", "www"), root + "/www/img/logo.png");
    EXPECT_EQ(bundle.pathForResource("www", ""), root + "/www");
    EXPECT_EQ(bundle.pathForResource("missing", "png", "www"), std::nullopt);
    EXPECT_EQ(bundle.pathForResource("", "png"), std::nullopt);
    for (auto [name, type, dir] : std::vector<std::tuple<const char*, const char*, const char*>>{
             {"../App.app/Info", "plist", ""},
             {"Info", "plist", "www/.."},
             {"passwd", "", "/etc"},
             {"/etc/passwd", "", ""},
             {"Info", "../Info.plist", ""},
             {"..", "", "www"}}) {
        EXPECT_EQ(bundle.pathForResource(name, type, dir), std::nullopt) << name << " " << dir;
    }
}

TEST_F(BundleTest, LocalizedResourcesAndStringsFollowThePreferredLanguages) {
    Bundle bundle(root);
    prefer({"de-DE", "en"});
    EXPECT_EQ(bundle.pathForResource("flag", "png"), root + "/de.lproj/flag.png");
    EXPECT_EQ(bundle.localizedStringForKey("hello"), "Hallo");
    EXPECT_EQ(bundle.localizedStringForKey("only.en"), "English");  // falls back to en
    EXPECT_EQ(bundle.localizedStringForKey("title", "", "Other"), "Base title");
    EXPECT_EQ(bundle.localizedStringForKey("absent"), "absent");
    EXPECT_EQ(bundle.localizedStringForKey("absent", "Fallback"), "Fallback");
    EXPECT_EQ(bundle.localizedStringForKey("hello", "", "../Localizable"), "hello");

    prefer({"ja"});
    EXPECT_EQ(bundle.localizedStringForKey("hello"), "Hello");
    EXPECT_EQ(bundle.pathForResource("flag", "png"), std::nullopt);

    testsupport::LogCapture log;
    log.expect("Ignoring the malformed strings file");
    prefer({"fr"});
    EXPECT_EQ(bundle.localizedStringForKey("hello"), "Hello");
    EXPECT_TRUE(log.contains("fr.lproj/Localizable.strings"));
}

TEST_F(BundleTest, MainBundleIsTheHostsChoice) {
    auto saved = Bundle::mainBundle()->bundlePath();
    Bundle::setMainBundlePath(root + "/");
    EXPECT_EQ(Bundle::mainBundle()->bundlePath(), root);
    EXPECT_EQ(Bundle::mainBundle()->bundleIdentifier(), "org.example.app");
    Bundle::setMainBundlePath(saved);
}

class LocaleTest : public testsupport::SandboxTest {
protected:
    void TearDown() override {
        auto d = ns::UserDefaults::standardUserDefaults();
        d->removeObjectForKey(ns::kAppleLanguagesKey);
        d->removeObjectForKey(ns::kAppleLocaleKey);
        testsupport::SandboxTest::TearDown();
    }
};

TEST_F(LocaleTest, CurrentLocaleFromOverrideThenEnvironment) {
    EnvGuard all("LC_ALL", nullptr), messages("LC_MESSAGES", nullptr);
    EnvGuard lang("LANG", "de_DE.UTF-8@euro");
    EXPECT_EQ(ns::Locale::currentLocaleIdentifier(), "de_DE");
    {
        EnvGuard over("LC_MESSAGES", "fr_CA.UTF-8");
        EXPECT_EQ(ns::Locale::currentLocaleIdentifier(), "fr_CA");
    }
    {
        EnvGuard posix("LANG", "C.UTF-8");
        EXPECT_EQ(ns::Locale::currentLocaleIdentifier(), "en_US");
    }
    ns::UserDefaults::standardUserDefaults()->setObject(ns::kAppleLocaleKey, "pt-BR");
    EXPECT_EQ(ns::Locale::currentLocaleIdentifier(), "pt_BR");
}

TEST_F(LocaleTest, PreferredLanguagesAsLanguageTags) {
    EnvGuard all("LC_ALL", nullptr), messages("LC_MESSAGES", nullptr);
    EnvGuard language("LANGUAGE", "fr_CA:de::fr_CA");
    EnvGuard lang("LANG", "en_GB.UTF-8");
    EXPECT_EQ(ns::Locale::preferredLanguages(), (std::vector<std::string>{"fr-CA", "de", "en-GB"}));
    {
        EnvGuard none("LANGUAGE", nullptr), posix("LANG", "C");
        EXPECT_EQ(ns::Locale::preferredLanguages(), (std::vector<std::string>{"en-US"}));
    }
    ns::UserDefaults::standardUserDefaults()->setObject(ns::kAppleLanguagesKey,
                                                        ns::Value::array({"es_MX", 5, "en"}));
    EXPECT_EQ(ns::Locale::preferredLanguages(), (std::vector<std::string>{"es-MX", "en"}));
}

TEST_F(LocaleTest, LanguageAndCountryCodes) {
    EXPECT_EQ(ns::Locale::languageCode("en_US"), "en");
    EXPECT_EQ(ns::Locale::countryCode("en_US"), "US");
    EXPECT_EQ(ns::Locale::languageCode("zh-Hant-TW"), "zh");
    EXPECT_EQ(ns::Locale::countryCode("zh-Hant-TW"), "TW");
    EXPECT_EQ(ns::Locale::countryCode("de"), "");
    EXPECT_EQ(ns::Locale::languageTag("sr_Latn_RS"), "sr-Latn-RS");
}

}  // namespace
