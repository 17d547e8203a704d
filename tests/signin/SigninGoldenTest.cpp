// Golden tests of what the sign-in library says, stores and sends: its logger's lines as
// standard error and the log callback receive them, the keychain items of its token cache and
// of its team probe, and one whole silent token acquisition (authority validation, a refresh
// at the token endpoint, the cache updated) with its log lines, its requests and the keychain
// after it, compared byte for byte with tests/fixtures/golden/signin/.
//
// Normalisation: each standard-error line's prefix (time, process, ids) becomes
// "<time> <process>[<ids>] "; loopback ports "<port>"; UUIDs (correlation ids) "<uuid-N>";
// the source line in "In function: ..., file line #N" becomes "#<line>", as it moves whenever
// the code above it changes. The flow's authority carries the loopback port, which also
// reaches the keychain's service texts in base64url and the archived items: there the flow's
// golden shows the service texts' parts decoded and the archives as XML property lists, after
// the port is normalised; the items' exact bytes are pinned by the golden of the token cache
// items, whose authority is fixed.
#include <gtest/gtest.h>

#include <future>
#include <sstream>

#include "platform/ns/Log.h"
#include "platform/ns/PropertyListSerialization.h"
#include "platform/sec/SecItem.h"
#include "services/peers/IdentityPeer.h"
#include "signin/DSAuthenticationContext.h"
#include "signin/DSInstanceDiscovery.h"
#include "signin/DSKeychainTokenCache.h"
#include "signin/DSKeychainUtil.h"
#include "tests/signin/SigninNetTest.h"
#include "tests/signin/SigninTestSupport.h"
#include "tests/support/Golden.h"
#include "tests/support/KeychainDump.h"

namespace {

using testsupport::expectMatchesGolden;

constexpr const char* kSystemLogTag = "[signin] ";

// The log callback's arguments, one line per call.
class CallbackLines {
public:
    CallbackLines() {
        DSLogger::setLogCallBack([this](DSLogLevel level, const std::string& message,
                                        const std::optional<std::string>& info, int64_t code,
                                        const ns::Dictionary* userInfo) {
            std::lock_guard lock(mutex_);
            text_ +=
                "level " + std::to_string(level) + ", code " + std::to_string(code) + ": " +
                visible(message) + " | info: " + visible(info.value_or("(none)")) +
                (userInfo ? " | user info: " + visible(ns::Value(*userInfo).description()) : "") +
                "\n";
        });
    }
    ~CallbackLines() { DSLogger::setLogCallBack(nullptr); }

    // The callback receives the texts unescaped; control characters are shown as {xx}, so
    // that the golden stays a text file and still tells a raw byte from an escape.
    static std::string visible(const std::string& text) {
        return testsupport::visibleControlCharacters(text, true);
    }
    std::string text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
};

// The logger's level, switch and callback as they were, afterwards.
class LoggerSettings {
public:
    LoggerSettings() : level_(DSLogger::getLevel()), nsLogging_(DSLogger::getNSLogging()) {}
    ~LoggerSettings() {
        DSLogger::setLevel(level_);
        DSLogger::setNSLogging(nsLogging_);
        DSLogger::setLogCallBack(nullptr);
    }

private:
    DSLogLevel level_;
    bool nsLogging_;
};

class Component : public DSLogContext {
public:
    std::optional<std::string> component() const override { return "DSKeychainTokenCache"; }
};

std::string withSourceLinesNormalised(const std::string& text) {
    return std::regex_replace(text, std::regex("file line #\\d+"), "file line #<line>");
}

class SigninLoggerGolden : public testsupport::ManualRunLoop {};

TEST_F(SigninLoggerGolden, LinesThroughTheSystemLogAndTheCallback) {
    LoggerSettings restore;
    const ns::LogLevel minimum = ns::Log::minimumLevel();
    ns::Log::setMinimumLevel(ns::LogLevel::Debug);
    clock().advanceSeconds(0.5);
    const auto correlation = ns::UUID::fromString("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
    Component component;
    std::string written;
    std::string callbacks;
    {
        testsupport::StdStreamCapture stderrCapture(2);
        CallbackLines lines;
        DSLogger::setNSLogging(true);
        for (DSLogLevel maximum :
             {DS_LOG_LEVEL_ERROR, DS_LOG_LEVEL_WARN, DS_LOG_LEVEL_INFO, DS_LOG_LEVEL_VERBOSE}) {
            DSLogger::setLevel(maximum);
            for (DSLogLevel level = DS_LOG_LEVEL_NONE; level <= DS_LOG_LEVEL_VERBOSE; ++level) {
                DSLogger::log(
                    level, nullptr,
                    "maximum " + std::to_string(maximum) + ", " + DSLogger::stringForLevel(level),
                    0, std::nullopt, std::nullopt);
            }
        }
        ns::Dictionary userInfo{{"key", "value"}};
        DSLogger::log(DS_LOG_LEVEL_ERROR, &component, "With component and correlation", 300,
                      "some information", correlation, &userInfo);
        DSLogger::logFormat(DS_LOG_LEVEL_INFO, nullptr, "Formatted", 0, correlation, nullptr,
                            "Checking cache for '%@'. Result: %d", std::string("https://h"), 1);
        DSLogger::log(DS_LOG_LEVEL_WARN, nullptr, std::string("Quoted \"a\nb\x1b[0m\r\x7f\""), 0,
                      std::nullopt, std::nullopt);
        DSLogger::log(DS_LOG_LEVEL_WARN, nullptr, std::nullopt, 0, std::nullopt, std::nullopt);
        DSLogger::logToken("secret-access-token", "AT",
                           ns::Date::fromTimeIntervalSince1970(1.7e9 + 3600),
                           std::string("Acquired"), correlation);
        DSLogger::logToken("secret-refresh-token", "RT", std::nullopt, std::nullopt, std::nullopt);
        DSLogger::logInvalidArgument("InvalidArgumentException: completionBlock");
        DSLogger::logAPIEntry();
        DSLogger::setLogCallBack(nullptr);
        DSLogger::log(DS_LOG_LEVEL_ERROR, nullptr, "System log only", 0, std::nullopt,
                      std::nullopt);
        DSLogger::setNSLogging(false);
        DSLogger::log(DS_LOG_LEVEL_ERROR, nullptr, "Nowhere", 0, std::nullopt, std::nullopt);
        callbacks = lines.text();
        written = stderrCapture.text();
    }
    ns::Log::setMinimumLevel(minimum);
    expectMatchesGolden("signin/logger-system-log.txt",
                        withSourceLinesNormalised(
                            testsupport::logLinesWithPrefixNormalised(written, {kSystemLogTag})));
    expectMatchesGolden("signin/logger-callback.txt",
                        withSourceLinesNormalised(callbacks) +
                            "hash of \"abc\": " + DSLogger::getHash("abc").value() + "\n");
}

// The token items: the team probe and the purge's bookkeeping item are written once per
// process, by whichever test comes first, and have a golden of their own.
bool isTokenItem(const ns::Dictionary& item) {
    auto generic = item.find(sec::kSecAttrGeneric);
    return generic != item.end() && generic->second.data() &&
           generic->second.data()->chars() == "DirServices.SAL.1";
}

// An archived item as its bytes and as the property list they hold.
std::optional<std::string> describeArchive(const std::string& attribute, const ns::Data& data,
                                           const ns::Dictionary&) {
    if (attribute != sec::kSecValueData || !data.chars().starts_with("bplist00")) {
        return std::nullopt;
    }
    std::string shown =
        std::to_string(data.length()) + " bytes:\n" + testsupport::hexDump(data.chars());
    shown.pop_back();
    return shown;
}

// An archived item as the property list it holds, in XML.
std::optional<std::string> describeArchiveAsXML(const std::string& attribute, const ns::Data& data,
                                                const ns::Dictionary&) {
    if (attribute != sec::kSecValueData || !data.chars().starts_with("bplist00")) {
        return std::nullopt;
    }
    auto plist = ns::PropertyListSerialization::read(data);
    if (!plist.ok()) return "(not a property list)";
    auto xml =
        ns::PropertyListSerialization::write(*plist, ns::PropertyListSerialization::Format::XML);
    if (!xml.ok()) return "(not writable as XML)";
    std::string shown = "(archive as XML)\n" + std::string(xml->chars());
    if (!shown.empty() && shown.back() == '\n') shown.pop_back();
    return shown;
}

// The cache of the application's group; the first cache of the process schedules the daily
// purge, which is let finish.
std::shared_ptr<DSKeychainTokenCache> applicationCache() {
    auto cache = DSKeychainTokenCache::initWithGroup("com.example.greenhouse");
    dispatch::RunLoop::main().runUntilIdle();
    return cache;
}

class SigninKeychainGolden : public testsupport::ManualRunLoop {
protected:
    testsupport::ScopedMainBundle bundle_;
    void SetUp() override {
        ManualRunLoop::SetUp();
        cache_ = applicationCache();
        ASSERT_TRUE(cache_);
    }
    testsupport::ScopedKeychain keychain_;
    std::shared_ptr<DSKeychainTokenCache> cache_;
};

// A multi-resource item, written again with new tokens (the one item is updated), an item of
// a resource beside it, and the multi-resource item removed (a tombstone takes its place).
TEST_F(SigninKeychainGolden, TokenCacheItemsWrittenUpdatedAndRemoved) {
    LoggerSettings restore;
    DSLogger::setNSLogging(false);
    auto multiResource = signintest::tokenItem("u@x", std::nullopt);
    ASSERT_TRUE(cache_->addOrUpdateItem(multiResource.get(), std::nullopt, nullptr));
    std::string dump = "(added)\n" + testsupport::dumpKeychain(describeArchive, isTokenItem);
    multiResource = signintest::tokenItem("u@x", std::nullopt, "client-1", "2");
    ASSERT_TRUE(cache_->addOrUpdateItem(multiResource.get(), std::nullopt, nullptr));
    dump += "(written again)\n" + testsupport::dumpKeychain(describeArchive, isTokenItem);
    auto access = signintest::tokenItem("u@x", "https://graph.example");
    ASSERT_TRUE(cache_->addOrUpdateItem(access.get(), std::nullopt, nullptr));
    ASSERT_TRUE(cache_->removeItem(multiResource.get(), nullptr));
    dump += "(a resource's item added, the first removed)\n" +
            testsupport::dumpKeychain(describeArchive, isTokenItem);
    expectMatchesGolden("signin/token-cache-items.txt", dump);
}

// The team probe, and the purge's record of when it is next due.
TEST_F(SigninKeychainGolden, TeamProbeAndPurgeItems) {
    testsupport::ScopedKeychain fresh;
    EXPECT_EQ(DSKeychainUtil::retrieveTeamIDFromKeychain(), "LOCALDE421B8C38");
    cache_->cleanTombstoneIfNecessary();
    expectMatchesGolden("signin/team-probe-and-purge-items.txt",
                        testsupport::dumpKeychain(describeArchive));
}

class SigninFlowGolden : public signintest::SigninNetTest {
protected:
    testsupport::ScopedMainBundle bundle_;
    void SetUp() override {
        SigninNetTest::SetUp();
        store_ = applicationCache();
        ASSERT_TRUE(store_);
        peer_.serveTokens("tenant.example");
        peer_.answerDiscovery(peers::IdentityPeer::Discovery::Valid);
        context_ = DSAuthenticationContext::initWithAuthority(authority_, true, store_, nullptr);
        ASSERT_TRUE(context_);
    }
    void TearDown() override {
        loop().runUntilIdle();
        SigninNetTest::TearDown();
    }

    // The service texts' parts decoded, each archive as XML.
    std::string keychainText() const {
        std::string dump = testsupport::dumpKeychain(describeArchiveAsXML, isTokenItem);
        std::string out;
        std::istringstream in(dump);
        for (std::string line; std::getline(in, line);) {
            const std::string prefix = "  svce = string \"DirServices.SAL.1|";
            if (line.rfind(prefix, 0) == 0) {
                std::string rest = line.substr(prefix.size(), line.size() - prefix.size() - 1);
                std::string decoded = "  svce = string \"DirServices.SAL.1";
                size_t at = 0;
                while (at <= rest.size()) {
                    size_t bar = rest.find('|', at);
                    if (bar == std::string::npos) bar = rest.size();
                    const std::string part = rest.substr(at, bar - at);
                    auto text = adBase64UrlDecode(part);
                    decoded += "|" + (text && part != "CC3513A0-0E69-4B4D-97FC-DFB6C91EE132"
                                          ? "b64url(" + *text + ")"
                                          : part);
                    at = bar + 1;
                }
                line = decoded + "\"";
            }
            out += line + "\n";
        }
        return out;
    }

    testsupport::ScopedKeychain keychain_;
    peers::HttpsServer server_{ca()};
    peers::IdentityPeer peer_{server_};
    DSInstanceDiscovery discovery_{{peer_.authority()}};
    DSInstanceDiscovery::ScopedOverride useLoopback_{discovery_};
    std::string authority_ = server_.baseURL() + "/tenant.example";
    std::shared_ptr<DSKeychainTokenCache> store_;
    std::shared_ptr<DSAuthenticationContext> context_;
};

TEST_F(SigninFlowGolden, ExpiredTokenIsRefreshedSilently) {
    LoggerSettings restore;
    auto expired = signintest::tokenItem("u@x", "https://graph.example", "client-1", "1");
    expired->setAuthority(authority_);
    expired->setExpiresOn(ns::Date::now().dateByAddingTimeInterval(-10));
    DSLogger::setNSLogging(false);
    ASSERT_TRUE(store_->addOrUpdateItem(expired.get(), std::nullopt, nullptr));
    peer_.grant("rt-1", {"u@x", "at-new", "rt-new", "https://graph.example"});

    DSLogger::setLevel(DS_LOG_LEVEL_VERBOSE);
    DSLogger::setNSLogging(true);
    testsupport::ScopedLogRecorder systemLog({"signin"});
    CallbackLines callbacks;
    auto promise = std::make_shared<std::promise<std::shared_ptr<const DSAuthenticationResult>>>();
    auto future = promise->get_future();
    context_->acquireTokenSilentWithResource(
        "https://graph.example", "client-1", "x-dsauth-app://done", std::string("u@x"),
        [promise](std::shared_ptr<const DSAuthenticationResult> result) {
            promise->set_value(std::move(result));
        });
    ASSERT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    auto result = future.get();
    ASSERT_EQ(result->status(), DS_SUCCEEDED);
    DSLogger::setLogCallBack(nullptr);

    const auto normalise = testsupport::Normaliser::standard();
    expectMatchesGolden("signin/flow-log-system.txt",
                        normalise(withSourceLinesNormalised(systemLog.text())));
    expectMatchesGolden("signin/flow-log-callback.txt",
                        normalise(withSourceLinesNormalised(callbacks.text())));
    std::string requests;
    for (const auto& request : server_.requests()) {
        requests += normalise(testsupport::formatHttpRequest(request.method, request.target,
                                                             request.headerLines, request.body)) +
                    "----\n";
    }
    expectMatchesGolden("signin/flow-requests.txt", requests);
    expectMatchesGolden("signin/flow-keychain.txt", normalise(keychainText()));
}

}  // namespace
