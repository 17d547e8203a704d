#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "platform/net/TLSSettings.h"
#include "services/peers/HttpsServer.h"
#include "services/peers/TestCA.h"
#include "signin/DSClientMetrics.h"
#include "signin/DSRequestContext.h"
#include "signin/DSWebRequest.h"
#include "tests/support/ManualRunLoop.h"

namespace signintest {

struct NetContext : DSRequestContext {
    std::optional<ns::UUID> id;
    std::optional<std::string> telemetryId;
    std::optional<ns::UUID> correlationId() const override { return id; }
    std::optional<std::string> telemetryRequestId() const override { return telemetryId; }
};

// Talks to loopback peers over HTTPS trusted through the suite's test authority. Requests
// complete on their own queues, so a test waits for the completion itself (bounded, as a
// safety net against a hung peer only).
class SigninNetTest : public testsupport::ManualRunLoop {
protected:
    static void SetUpTestSuite() { ca_ = new peers::TestCA(); }
    static void TearDownTestSuite() {
        delete ca_;
        ca_ = nullptr;
    }
    void SetUp() override {
        ManualRunLoop::SetUp();
        net::TLSSettings::setExtraCAFile(ca_->caFile());
        DSClientMetrics::getInstance().setIsPending(false);
    }
    void TearDown() override {
        DSClientMetrics::getInstance().setIsPending(false);
        net::TLSSettings::setExtraCAFile("");
        ManualRunLoop::TearDown();
    }
    static const peers::TestCA& ca() { return *ca_; }

    struct Outcome {
        std::optional<ns::Error> error;
        std::shared_ptr<DSWebResponse> response;
    };

    static Outcome sendAndWait(const std::shared_ptr<DSWebRequest>& request) {
        auto promise = std::make_shared<std::promise<Outcome>>();
        auto future = promise->get_future();
        request->send(
            [promise](std::optional<ns::Error> error, std::shared_ptr<DSWebResponse> response) {
                promise->set_value({std::move(error), std::move(response)});
            });
        EXPECT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        return future.get();
    }

private:
    static inline peers::TestCA* ca_ = nullptr;
};

}  // namespace signintest
