// Golden tests of what instance identity says, stores and sends: its logger's lines as they
// reach standard output, the item its keychain wrapper writes, and one whole first launch
// (check-in, key pair, the default token, fetched again once the push-service token arrives,
// and its deletion) with its log lines, its keychain items and its requests, compared byte for
// byte with tests/fixtures/golden/instance_id/.
//
// Normalisation (what changes from run to run and is replaced before comparing):
// - loopback ports become "<port>"; UUIDs "<uuid-N>";
// - the check-in's "logging_id" (random per request) becomes "<random>";
// - X-kid numbers, which count the process's requests and so depend on the tests run before,
//   become "<kid+N>", N counted from the first request of the test;
// - "Content-Length", which follows the number of digits of those two, becomes "<length of the
//   body>" once checked against the body;
// - what derives from the key pair, generated afresh each run: "appid" becomes "<appid>", each
//   base-64 line of "pub2" "<N base64>", "sig" "<sig: N characters>", and the keys' data in the
//   keychain their kind and size. The registration peer checks appid, pub2 and sig itself
//   (RegistrationPeer::problems() stays empty), so that their content is still verified.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/ns/NotificationCenter.h"
#include "platform/sec/Key.h"
#include "platform/sec/SecItem.h"
#include "platform/ui/Application.h"
#include "sdk/core/NEBApp.h"
#include "sdk/core/NEBAppRegistry.h"
#include "sdk/core/NEBLogbookLogger.h"
#include "sdk/core/NEBOptions.h"
#include "sdk/instance_id/NEBInstanceID.h"
#include "sdk/instance_id/NEBInstanceIDAuthKeychain.h"
#include "sdk/instance_id/NEBInstanceIDFileHandleLogWriter.h"
#include "sdk/instance_id/NEBInstanceIDLogLevelFilter.h"
#include "sdk/instance_id/NEBInstanceIDRegistrationClient.h"
#include "tests/sdk/instance_id/InstanceIDFixture.h"
#include "tests/support/Golden.h"
#include "tests/support/KeychainDump.h"
#include "tests/support/LogCapture.h"

namespace {

using peers::CheckinPeer;
using peers::RegistrationPeer;
using testsupport::expectMatchesGolden;

constexpr const char* kSenderID = "1234567890";

// Every level of the standard logger through each level filter, with a message that quotes
// control characters, exactly as standard output receives it.
TEST(InstanceIDLoggerGolden, StandardLinesAtEveryLevelAndFilter) {
    testsupport::ScopedTimeZone utc;
    auto clock = std::make_shared<dispatch::ManualClock>(1.7e9 + 0.042);
    dispatch::Clock::setCurrent(clock);
    std::string out;
    {
        testsupport::StdStreamCapture stdoutCapture(1);
        auto logger = NEBInstanceIDLogger::standardLogger();
        for (int8_t filterLevel : {0, 1, 2, 3}) {
            logger->setFilter(std::make_shared<NEBInstanceIDLogLevelFilter>(filterLevel));
            logger->log(NEBInstanceIDLogLevel::Info, "f", "filter %d", filterLevel);
            logger->log(NEBInstanceIDLogLevel::Debug, "f", "debug %d", 0);
            logger->log(NEBInstanceIDLogLevel::Info, "f", "info %@", std::string("text"));
            logger->log(NEBInstanceIDLogLevel::Error, "f", "error %lld", 7LL);
            logger->log(NEBInstanceIDLogLevel::Assert, "f", "assert %s", "c");
        }
        logger->setFilter(std::make_shared<NEBInstanceIDLogLevelFilter>(0));
        logger->log(NEBInstanceIDLogLevel::Error, "f", "quoted %@",
                    std::string("line\nbreak\r\ttab \x1b[31mred \xc2\x85 \xff end"));
        out = stdoutCapture.text();
    }
    dispatch::Clock::setCurrent(nullptr);
    expectMatchesGolden("instance_id/logger-lines.txt", out);
}

// The form body, one field per line in the order sent, with carriage returns and line feeds
// written as \r and \n, and the key pair's values normalised.
std::string formFields(const std::string& body) {
    std::string out;
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string::npos) end = body.size();
        std::string field = body.substr(start, end - start);
        const size_t equals = field.find('=');
        const std::string name = field.substr(0, equals);
        std::string value = equals == std::string::npos ? "" : field.substr(equals + 1);
        if (name == "appid") {
            value = "<appid>";
        } else if (name == "sig") {
            value = "<sig: " + std::to_string(value.size()) + " characters>";
        } else if (name == "pub2") {
            std::string lines;
            size_t at = 0;
            while (at < value.size()) {
                size_t next = value.find("\r\n", at);
                if (next == std::string::npos) next = value.size();
                lines += "<" + std::to_string(next - at) + " base64>";
                if (next < value.size()) lines += "\\r\\n";
                at = next + 2;
            }
            value = lines;
        }
        for (char c : value) {
            if (c == '\r' || c == '\n') ADD_FAILURE() << "unexpected line break in " << name;
        }
        out += "  " + name + (equals == std::string::npos ? "" : "=") + value + "\n";
        start = end + 1;
    }
    return out;
}

std::optional<std::string> describeKeyData(const std::string& attribute, const ns::Data& data,
                                           const ns::Dictionary& item) {
    if (attribute != sec::kSecValueData) return std::nullopt;
    auto keyClass = item.find(sec::kSecAttrKeyClass);
    if (keyClass == item.end()) return std::nullopt;
    const bool isPrivate =
        keyClass->second.string() && *keyClass->second.string() == sec::kSecAttrKeyClassPrivate;
    auto key = isPrivate ? sec::Key::fromPrivateKeyData(data) : sec::Key::fromPublicKeyData(data);
    if (!key) return "<not a key>";
    return std::string("<PKCS#1 DER of an RSA ") + (isPrivate ? "private" : "public") + " key of " +
           std::to_string(key->bits()) + " bits>";
}

using InstanceIDKeychainGolden = iidtest::InstanceIDTest;

// An item as first written, written again with another accessibility (the wrapper replaces it
// in one step), and after an empty password (which removes it and is refused).
TEST_F(InstanceIDKeychainGolden, ItemIsReplacedWhole) {
    NEBInstanceIDAuthKeychain keychain("com.nebula.iid");
    ASSERT_TRUE(keychain.setPassword("4242|secret", "com.nebula.iid.checkin-service", std::nullopt,
                                     "com.nebula.iid.checkin-account"));
    std::string dump = "(first write)\n" + testsupport::dumpKeychain();
    ASSERT_TRUE(keychain.setPassword("4242|secret-2", "com.nebula.iid.checkin-service",
                                     std::string(sec::kSecAttrAccessibleAlways),
                                     "com.nebula.iid.checkin-account"));
    dump += "(second write)\n" + testsupport::dumpKeychain();
    ASSERT_FALSE(keychain.setPassword("", "com.nebula.iid.checkin-service", std::nullopt,
                                      "com.nebula.iid.checkin-account"));
    dump += "(empty password)\n" + testsupport::dumpKeychain();
    expectMatchesGolden("instance_id/keychain-items.txt", dump);
}

class InstanceIDFlowGolden : public iidtest::InstanceIDTest {
protected:
    void SetUp() override {
        InstanceIDTest::SetUp();
        // The hardware model the check-in reports, whatever machine runs the test.
        sys::DeviceFacts::current().setMachine("iPhone10,3");
        // A development profile: the push-service token is a sandbox one.
        std::ofstream(bundlePath() + "/embedded.mobileprovision", std::ios::binary)
            << std::string("\x30\x82\x01\x02signed data\0", 17)
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
               "<key>Entitlements</key><dict><key>aps-environment</key>"
               "<string>development</string></dict></dict></plist>"
            << std::string("\xa0\x82 signature", 12);
        registerMessaging();
        NEBInstanceID::load();
        observer_ = ns::NotificationCenter::defaultCenter().addObserver(
            kNEBInstanceIDTokenRefreshNotification, nullptr,
            [this](const ns::Notification&) { ++refreshes_; });
    }
    void TearDown() override {
        ns::NotificationCenter::defaultCenter().removeObserver(observer_);
        loop().runUntilIdle();
        instance_.reset();
        shared_.reset();
        apps_.reset();
        NEBLogbookLogger::setSharedInstance(nullptr);
        logbook_.reset();
        InstanceIDTest::TearDown();
    }

    // The request's X-kid and the token made of it, relative to the first of the test.
    std::string withRelativeKids(std::string text) const {
        for (uint64_t k = 1; k <= 8; ++k) {
            const std::string kid = std::to_string(firstKid_ + k);
            text = std::regex_replace(text, std::regex("(X-kid=|tok-)" + kid + "\\b"),
                                      "$1<kid+" + std::to_string(k) + ">");
        }
        return text;
    }

    std::string requestText(peers::HttpRequest request) const {
        // The length follows the digits of X-kid and of the random logging_id; the body
        // itself is compared below.
        request.headerLines = testsupport::withBodyLengthChecked(request.headerLines, request.body);
        std::optional<std::string> body;
        if (request.path == "/iid/register") {
            body = "(form fields in the order sent)\n" + formFields(request.body);
        } else {
            body = std::regex_replace(request.body, std::regex("\"logging_id\":\\d+"),
                                      "\"logging_id\":<random>") +
                   "\n";
        }
        return testsupport::formatHttpRequest(request.method, request.target, request.headerLines,
                                              request.body, body);
    }

    std::shared_ptr<NEBInstanceID> instance_;
    std::optional<ns::ScopedSharedInstance<NEBInstanceID>> shared_;
    std::optional<ns::ScopedSharedInstance<NEBAppRegistry>> apps_;
    std::shared_ptr<NEBLogbookLogger> logbook_;
    uint64_t observer_ = 0;
    int refreshes_ = 0;
    uint64_t firstKid_ = 0;
};

TEST_F(InstanceIDFlowGolden, FirstLaunchChecksInFetchesTheDefaultTokensAndDeletesOne) {
    testsupport::ScopedTimeZone utc;
    testsupport::LogCapture coreLines;  // the core's own lines belong to its goldens
    coreLines.expect("[I-COR000012] Could not locate configuration file");
    coreLines.expect("[I-COR000022] Nebula Analytics is not available.");
    checkin_->answer(CheckinPeer::credentials("4242424242", "9876543210"));
    registration_->expectAuthorization("4242424242:9876543210");
    firstKid_ = NEBInstanceIDRegistrationClient::requestID();

    std::string logged;
    std::string keychainAfterFetch;
    {
        testsupport::StdStreamCapture stdoutCapture(1);
        apps_.emplace();
        logbook_ = NEBLogbookLogger::create(nullptr, dir_.str() + "/logbook");
        NEBLogbookLogger::setSharedInstance(logbook_);
        shared_.emplace();
        instance_ = NEBInstanceID::instanceID();
        // Standard output, as the product writes; info lines included.
        NEBInstanceIDSharedLogger().setWriter(NEBInstanceIDFileHandleLogWriter::standardOutput());
        NEBInstanceIDSharedLogger().setFilter(std::make_shared<NEBInstanceIDLogLevelFilter>(1));
        NEBApp::configureWithOptions(NEBOptions::initInternalWithOptionsDictionary(
            {{"NEBULA_APP_ID", "1:1234567890:ios:0123456789abcdef"},
             {"MSG_SENDER_ID", kSenderID},
             {"API_KEY", "test-api-key"},
             {"BUNDLE_ID", iidtest::kBundleID}}));
        ASSERT_TRUE(waitUntil([&] { return refreshes_ == 1; }));
        // The push-service token arrives: the default token is fetched again with it.
        ui::Application::shared().deliver<ui::DelegateOp::DidRegisterForRemoteNotifications>(
            ns::Data::fromString("\x01\x23\x45\xab"));
        ASSERT_TRUE(waitUntil([&] { return refreshes_ == 2; }));
        keychainAfterFetch = testsupport::dumpKeychain(describeKeyData);

        registration_->answer(RegistrationPeer::text("deleted=1\n"));
        bool deleted = false;
        instance_->deleteTokenWithAuthorizedEntity(kSenderID, "*",
                                                   [&](std::optional<ns::Error> error) {
                                                       EXPECT_FALSE(error) << error->description();
                                                       deleted = true;
                                                   });
        ASSERT_TRUE(waitUntil([&] { return deleted; }));
        logged = stdoutCapture.text();
    }
    expectMatchesGolden("instance_id/first-launch-keychain.txt",
                        withRelativeKids(keychainAfterFetch));
    EXPECT_EQ(registration_->problems(), std::vector<std::string>{});
    expectMatchesGolden("instance_id/first-launch-log.txt", withRelativeKids(logged));
    expectMatchesGolden("instance_id/after-delete-keychain.txt",
                        withRelativeKids(testsupport::dumpKeychain(describeKeyData)));

    const auto normalise = testsupport::Normaliser::standard();
    std::string requests;
    for (const auto& request : server_->requests()) {
        requests += normalise(withRelativeKids(requestText(request))) + "----\n";
    }
    expectMatchesGolden("instance_id/first-launch-requests.txt", requests);
}

}  // namespace
