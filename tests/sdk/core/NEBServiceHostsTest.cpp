#include "sdk/core/NEBServiceHosts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "platform/net/TLSSettings.h"
#include "tests/sdk/core/NetworkFixture.h"
#include "tests/sdk/core/SdkCoreFixture.h"
#include "tests/support/LogCapture.h"

namespace {

class NEBServiceHostsTest : public sdktest::SdkCoreTest {
protected:
    void TearDown() override {
        ::unsetenv(NEBServiceHosts::kLogbookServerURLVariable);
        SdkCoreTest::TearDown();
    }
};

// The bundle names the services, a run's environment overrides it, the program overrides both.
TEST_F(NEBServiceHostsTest, BundleThenEnvironmentThenProgram) {
    EXPECT_EQ(NEBServiceHosts::logbookServerURL(), "https://logbook.nebula.invalid/log");
    writeInfoPlist({{"CFBundleIdentifier", sdktest::kBundleIdentifier},
                    {"NebulaServiceHosts",
                     ns::Dictionary{{"LogbookServerURL", "https://logs.example.test/log"},
                                    {"MeasurementUploadHost", "measure.example.test"},
                                    {"ConsoleURL", ""}}}});
    EXPECT_EQ(NEBServiceHosts::logbookServerURL(), "https://logs.example.test/log");
    EXPECT_EQ(NEBServiceHosts::measurementUploadHost(), "measure.example.test");
    EXPECT_EQ(NEBServiceHosts::consoleURL(), "https://console.nebula.invalid");
    ::setenv(NEBServiceHosts::kLogbookServerURLVariable, "https://127.0.0.1:8443/log", 1);
    EXPECT_EQ(NEBServiceHosts::logbookServerURL(), "https://127.0.0.1:8443/log");
    NEBServiceHosts::setLogbookServerURL("https://set.example.test/log");
    EXPECT_EQ(NEBServiceHosts::logbookServerURL(), "https://set.example.test/log");
    ns::ScopedSharedInstance<NEBServiceHosts> nothingSet;
    EXPECT_EQ(NEBServiceHosts::logbookServerURL(), "https://127.0.0.1:8443/log");
}

// Every other part's service follows the same rule, each under its own key and variable, and
// one service's setting never leaks into another's.
struct ServiceCase {
    const char* name;
    const char* infoKey;
    const char* variable;
    std::function<std::string()> get;
    std::function<void(std::string)> set;
    const char* fallback;
};

class ServiceHostsPerService : public NEBServiceHostsTest,
                               public ::testing::WithParamInterface<ServiceCase> {
protected:
    void TearDown() override {
        ::unsetenv(GetParam().variable);
        NEBServiceHostsTest::TearDown();
    }
};

TEST_P(ServiceHostsPerService, FollowTheOneRule) {
    const ServiceCase& service = GetParam();
    EXPECT_EQ(service.get(), service.fallback);
    writeInfoPlist({{"CFBundleIdentifier", sdktest::kBundleIdentifier},
                    {"NebulaServiceHosts", ns::Dictionary{{service.infoKey, "from-bundle"}}}});
    EXPECT_EQ(service.get(), "from-bundle");
    EXPECT_EQ(NEBServiceHosts::consoleURL(), "https://console.nebula.invalid");
    ::setenv(service.variable, "from-environment", 1);
    EXPECT_EQ(service.get(), "from-environment");
    // An empty variable is no setting.
    ::setenv(service.variable, "", 1);
    EXPECT_EQ(service.get(), "from-bundle");
    ::setenv(service.variable, "from-environment", 1);
    service.set("from-program");
    EXPECT_EQ(service.get(), "from-program");
}

INSTANTIATE_TEST_SUITE_P(
    Services, ServiceHostsPerService,
    ::testing::Values(
        ServiceCase{"MessagingServer", NEBServiceHosts::kMessagingServerKey,
                    NEBServiceHosts::kMessagingServerVariable, &NEBServiceHosts::messagingServer,
                    &NEBServiceHosts::setMessagingServer, "messaging.nebula.invalid"},
        ServiceCase{"Checkin", NEBServiceHosts::kCheckinServerURLKey,
                    NEBServiceHosts::kCheckinServerURLVariable, &NEBServiceHosts::checkinServerURL,
                    &NEBServiceHosts::setCheckinServerURL,
                    "https://device-provisioning.nebula.invalid"},
        ServiceCase{"Registration", NEBServiceHosts::kRegistrationServerURLKey,
                    NEBServiceHosts::kRegistrationServerURLVariable,
                    &NEBServiceHosts::registrationServerURL,
                    &NEBServiceHosts::setRegistrationServerURL, "https://iid.nebula.invalid"},
        ServiceCase{"TrustedCA", NEBServiceHosts::kTrustedCAFileKey,
                    NEBServiceHosts::kTrustedCAFileVariable, &NEBServiceHosts::trustedCAFile,
                    &NEBServiceHosts::setTrustedCAFile, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A local server with a certificate of its own is reached once the run names its authority:
// before, the request fails verification; an unreadable file is refused with a log line and
// leaves the trust as it was.
class TrustedCAFileTest : public sdktest::NetworkTest {
protected:
    void SetUp() override {
        NetworkTest::SetUp();
        net::TLSSettings::setExtraCAFile("");
        server_->on("GET", "/ping", peers::HttpResponse::text(200, "pong"));
    }
    void TearDown() override {
        ::unsetenv(NEBServiceHosts::kTrustedCAFileVariable);
        NetworkTest::TearDown();
    }
    std::shared_ptr<sdktest::Outcome> get() {
        auto outcome = std::make_shared<sdktest::Outcome>();
        auto network = NEBNetwork::create("localhost");
        network->getURL(server_->url("/ping"), {}, nullptr, false, sdktest::recordInto(outcome));
        EXPECT_TRUE(waitFor(outcome));
        return outcome;
    }
};

TEST_F(TrustedCAFileTest, TheConfiguredAuthorityIsTrustedOnceApplied) {
    logs_.expect("<Nebula/Network/ERROR> Encounter network error. Code, error: -1202");
    EXPECT_TRUE(NEBServiceHosts::applyTrustedCAFile());  // nothing configured: nothing to do
    EXPECT_EQ(net::TLSSettings::extraCAFile(), "");
    EXPECT_NE(get()->error, std::nullopt);

    {
        testsupport::LogCapture log;
        log.expect("Cannot read the trusted certificate authorities in /nonexistent/ca.pem");
        ::setenv(NEBServiceHosts::kTrustedCAFileVariable, "/nonexistent/ca.pem", 1);
        EXPECT_FALSE(NEBServiceHosts::applyTrustedCAFile());
        EXPECT_TRUE(
            log.contains("Cannot read the trusted certificate authorities in "
                         "/nonexistent/ca.pem"));
        EXPECT_EQ(net::TLSSettings::extraCAFile(), "");
    }

    ::setenv(NEBServiceHosts::kTrustedCAFileVariable, ca_->caFile().c_str(), 1);
    EXPECT_TRUE(NEBServiceHosts::applyTrustedCAFile());
    auto outcome = get();
    EXPECT_EQ(outcome->error, std::nullopt);
    EXPECT_EQ(outcome->status(), 200);
}

}  // namespace
