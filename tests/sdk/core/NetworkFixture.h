#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "platform/net/ReachabilityFlagSource.h"
#include "platform/net/TLSSettings.h"
#include "platform/testing/InjectedReachabilitySource.h"
#include "sdk/core/NEBNetwork.h"
#include "services/peers/HttpsServer.h"
#include "services/peers/TestCA.h"
#include "tests/peers/LoopPump.h"
#include "tests/sdk/core/SdkCoreFixture.h"

namespace sdktest {

// What one completion of the HTTP client received. Shared with the handler, so that a late
// completion never touches a finished test's stack.
struct Outcome {
    std::shared_ptr<const net::HTTPURLResponse> response;
    std::optional<ns::Data> data;
    std::optional<ns::Error> error;
    std::atomic<int> calls{0};
    std::atomic<bool> onMainThread{false};
    int status() const { return response ? response->statusCode() : 0; }
    int64_t errorCode() const { return error ? error->code() : 0; }
};

inline NEBNetwork::CompletionHandler recordInto(const std::shared_ptr<Outcome>& outcome) {
    return [outcome](auto response, auto data, auto error) {
        outcome->response = std::move(response);
        outcome->data = std::move(data);
        outcome->error = std::move(error);
        outcome->onMainThread = dispatch::RunLoop::isMainThread();
        ++outcome->calls;
    };
}

// Tests against the loopback HTTPS server, trusting the suite's test authority, with every
// reachability watch on a source whose flags the test sets.
class NetworkTest : public SdkCoreTest {
protected:
    static void SetUpTestSuite() { ca_ = new peers::TestCA(); }
    static void TearDownTestSuite() {
        delete ca_;
        ca_ = nullptr;
    }

    void SetUp() override {
        SdkCoreTest::SetUp();
        net::TLSSettings::setExtraCAFile(ca_->caFile());
        net::ReachabilityFlagSource::setFactory([this](const net::ReachabilityTarget& target) {
            auto source = std::make_shared<net::InjectedReachabilitySource>(target, flags_);
            sources_.push_back(source);
            return source;
        });
        server_ = std::make_unique<peers::HttpsServer>(*ca_);
    }

    void TearDown() override {
        server_->stop();
        loop().runUntilIdle();
        net::ReachabilityFlagSource::setFactory(nullptr);
        net::TLSSettings::setExtraCAFile("");
        SdkCoreTest::TearDown();
    }

    // The flags of every source made so far and of those made later.
    void setReachable(bool reachable) {
        flags_ = reachable ? net::kReachabilityFlagsReachable : 0;
        for (const auto& source : sources_) source->setFlags(flags_);
    }

    static bool waitUntil(const std::function<bool()>& done) {
        return peers::runMainLoopUntil(done);
    }
    static bool waitFor(const std::shared_ptr<Outcome>& outcome) {
        return waitUntil([&] { return outcome->calls > 0; });
    }

    static std::shared_ptr<dispatch::Queue> mainQueue() {
        return dispatch::Queue::main().shared_from_this();
    }

    static peers::TestCA* ca_;
    std::unique_ptr<peers::HttpsServer> server_;
    std::vector<std::shared_ptr<net::InjectedReachabilitySource>> sources_;
    net::ReachabilityFlags flags_ = net::kReachabilityFlagsReachable;
};

inline peers::TestCA* NetworkTest::ca_ = nullptr;

}  // namespace sdktest
