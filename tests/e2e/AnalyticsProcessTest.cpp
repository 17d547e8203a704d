// Measurement in the host program as a user runs it: the example bundle's SDK pointed through
// the environment at a loopback measurement server, which receives the launch's first-open and
// session events in an upload it can decode.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <string>

#include "services/peers/HttpsServer.h"
#include "services/peers/MeasurementPeer.h"
#include "services/peers/TestCA.h"
#include "tests/e2e/HostProcess.h"
#include "tests/support/TempDir.h"

#ifdef HYB_HOST_EXECUTABLE

namespace {

using namespace std::chrono_literals;

// Waits for the condition while reading the host's output, which must not fill its pipe.
bool eventually(HostProcess& host, const std::function<bool()>& done, std::chrono::seconds cap) {
    const auto deadline = std::chrono::steady_clock::now() + cap;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        host.readUntil("\x07never printed", 1s, host.output().size());
    }
    return true;
}

std::vector<std::string> eventNames(const peers::MeasurementPeer& peer) {
    std::vector<std::string> names;
    for (const auto& bundle : peer.distinctBundles())
        for (const auto& event : bundle.events()) names.push_back(event.name());
    return names;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(AnalyticsEndToEnd, TheFirstLaunchReportsItsFirstOpenAndSessionToTheMeasurementServer) {
    peers::TestCA ca;
    peers::HttpsServer server({&ca.localhost(), 100, std::chrono::seconds(180)});
    peers::MeasurementPeer measurement(server);
    testsupport::TempDir sandbox;
    // A purchase completed from the command line is reported too, once analytics observes
    // the store.
    HostProcess host(sandbox.str(), {"examples/bundle",
                                     {"--complete-purchase", "org.example.coins"},
                                     {"NEBULA_TRUSTED_CA_FILE=" + ca.caFile(),
                                      "NEBULA_MEASUREMENT_UPLOAD_HOST=" + measurement.host()}});
    // The first upload is due a quarter of a minute after the latest event; the session starts
    // after ten seconds in the foreground.
    ASSERT_TRUE(eventually(
        host,
        [&] {
            auto names = eventNames(measurement);
            return contains(names, "_f") && contains(names, "_s") && contains(names, "_iap");
        },
        90s))
        << "configuration requests " << measurement.configRequests().size() << ", uploads "
        << measurement.uploadCount() << "\n"
        << host.output();
    EXPECT_EQ(measurement.undecodableUploads(), 0u);
    EXPECT_EQ(measurement.configRequests().size(), 1u);
    auto bundles = measurement.distinctBundles();
    const auto& first = bundles.front();
    EXPECT_EQ(first.app_id(), "org.example.hybrid");
    EXPECT_EQ(first.app_version(), "1.0.0");
    EXPECT_EQ(first.nmp_app_id(), "1:1234567890:ios:0123456789abcdef");
    EXPECT_EQ(first.app_instance_id().size(), 32u);
    EXPECT_EQ(first.platform(), "ios");
    EXPECT_FALSE(first.vendor_device_id().empty());
    EXPECT_GT(first.upload_timestamp_millis(), 0);
    for (const auto& event : first.events()) {
        if (event.name() != "_f") continue;
        bool conversion = false;
        for (const auto& param : event.params())
            conversion = conversion || (param.name() == "_c" && param.int_value() == 1);
        EXPECT_TRUE(conversion);
    }
    std::map<std::string, std::string> purchase;
    for (const auto& bundle : bundles)
        for (const auto& event : bundle.events())
            if (event.name() == "_iap")
                for (const auto& param : event.params())
                    purchase[param.name()] = param.has_string_value()
                                                 ? param.string_value()
                                                 : std::to_string(param.int_value());
    EXPECT_EQ(purchase["product_id"], "org.example.coins");
    EXPECT_EQ(purchase["quantity"], "1");
    EXPECT_EQ(purchase["price"], "990000");  // millionths of the currency unit
    EXPECT_EQ(purchase["value"], "990000");
    EXPECT_EQ(purchase["currency"], "USD");
    EXPECT_EQ(purchase["_c"], "1");
    const int status = host.terminate();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << host.output();
}

// The analytics debug switch on the host's command line: on in one launch, it stays on in the
// next without it, until the opposite switch turns it off.
TEST(AnalyticsEndToEnd, TheDebugSwitchHoldsAcrossLaunchesUntilSwitchedOff) {
    testsupport::TempDir sandbox;
    auto launchWith = [&](std::vector<std::string> switches) {
        switches.push_back("--exit-after-load");
        HostProcess host(sandbox.str(), {"examples/bundle", switches, {}});
        host.readUntil("", std::chrono::seconds(60));  // its output, to the end
        host.wait();
        return host.output().find("<NEBAnalytics/DEBUG> Debug logging enabled") !=
               std::string::npos;
    };
    EXPECT_TRUE(launchWith({"-NEBAnalyticsDebugEnabled"}));
    EXPECT_TRUE(launchWith({}));
    EXPECT_FALSE(launchWith({"-noNEBAnalyticsDebugEnabled"}));
    EXPECT_FALSE(launchWith({}));
}

}  // namespace

#endif
