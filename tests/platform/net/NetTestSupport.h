#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Queue.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/net/TLSSettings.h"
#include "platform/net/URLSession.h"
#include "services/peers/TestCA.h"
#include "tests/peers/LoopPump.h"
#include "tests/support/ManualRunLoop.h"

namespace nettest {

// What a completion handler received. Shared with the handler, so that a completion that comes
// late never touches a finished test's stack.
struct Outcome {
    std::optional<ns::Data> data;
    std::optional<ns::URL> location;
    std::string downloaded;  // the downloaded file's contents, read inside the completion
    bool fileExistedDuringCompletion = false;
    std::shared_ptr<const net::URLResponse> response;
    std::optional<ns::Error> error;
    std::atomic<int> calls{0};

    const net::HTTPURLResponse* http() const { return response ? response->http() : nullptr; }
    int64_t errorCode() const { return error ? error->code() : 0; }
    std::string text() const { return data ? std::string(data->chars()) : std::string(); }
};

net::URLSession::DataCompletion recordInto(const std::shared_ptr<Outcome>& outcome);
net::URLSession::DownloadCompletion recordDownloadInto(const std::shared_ptr<Outcome>& outcome);

// Runs the main loop until the outcome has its completion.
bool waitFor(const std::shared_ptr<Outcome>& outcome);

// Network tests on the main run loop with a manual clock; every request trusts the suite's
// test authority unless a test says otherwise.
class NetTest : public testsupport::ManualRunLoop {
protected:
    static void SetUpTestSuite() { ca_ = new peers::TestCA(); }
    static void TearDownTestSuite() {
        delete ca_;
        ca_ = nullptr;
    }
    void SetUp() override {
        ManualRunLoop::SetUp();
        net::TLSSettings::setExtraCAFile(ca_->caFile());
    }
    void TearDown() override {
        net::TLSSettings::setExtraCAFile("");
        ManualRunLoop::TearDown();
    }

    static const peers::TestCA& ca() { return *ca_; }
    static std::shared_ptr<dispatch::Queue> mainQueue() {
        return dispatch::Queue::main().shared_from_this();
    }
    // A default session reporting on the main queue.
    static std::shared_ptr<net::URLSession> mainSession(
        std::shared_ptr<net::URLSessionDelegate> delegate = nullptr,
        net::URLSessionConfiguration configuration =
            net::URLSessionConfiguration::defaultSessionConfiguration()) {
        return net::URLSession::sessionWithConfiguration(std::move(configuration),
                                                         std::move(delegate), mainQueue());
    }

private:
    static inline peers::TestCA* ca_ = nullptr;
};

}  // namespace nettest
