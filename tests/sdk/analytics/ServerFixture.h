#pragma once

#include <memory>
#include <string>

#include "platform/net/ReachabilityFlagSource.h"
#include "platform/net/TLSSettings.h"
#include "platform/testing/InjectedReachabilitySource.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "sdk/core/NEBServiceHosts.h"
#include "services/peers/MeasurementPeer.h"
#include "tests/peers/LoopPump.h"
#include "tests/sdk/analytics/EngineFixture.h"

namespace analyticstest {

// An engine whose network reaches a loopback measurement server, with the network reported
// reachable.
class ServerTest : public EngineTest {
protected:
    static void SetUpTestSuite() { ca_ = new peers::TestCA(); }
    static void TearDownTestSuite() {
        delete ca_;
        ca_ = nullptr;
    }

    void SetUp() override {
        EngineTest::SetUp();
        net::TLSSettings::setExtraCAFile(ca_->caFile());
        net::ReachabilityFlagSource::setFactory([](const net::ReachabilityTarget& target) {
            return std::make_shared<net::InjectedReachabilitySource>(
                target, net::kReachabilityFlagsReachable);
        });
        server_ = std::make_unique<peers::HttpsServer>(*ca_);
        peer_ = std::make_unique<peers::MeasurementPeer>(*server_);
        NEBServiceHosts::setMeasurementUploadHost(peer_->host());
    }

    void TearDown() override {
        server_->stop();
        EngineTest::TearDown();
        net::ReachabilityFlagSource::setFactory(nullptr);
        net::TLSSettings::setExtraCAFile("");
    }

    void startConnectedEngine(std::shared_ptr<NEBOptions> opts = options(),
                              bool keepStartupEvents = false) {
        startEngine(std::move(opts), keepStartupEvents, NEBNetwork::create("localhost"));
        ASSERT_TRUE(engine_->engineRemoteConfig());
    }

    // Drives the main loop until the engine has no request in flight and `done` holds.
    bool settle(const std::function<bool()>& done = [] { return true; }) {
        return peers::runMainLoopUntil([&] {
            return !onWorker([&] { return engine_->isNetworkRequestPending(); }) && done();
        });
    }

    static peers::TestCA* ca_;
    ns::ScopedSharedInstance<NEBServiceHosts> hosts_;
    std::unique_ptr<peers::HttpsServer> server_;
    std::unique_ptr<peers::MeasurementPeer> peer_;
};

inline peers::TestCA* ServerTest::ca_ = nullptr;

}  // namespace analyticstest
