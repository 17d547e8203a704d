#include <gtest/gtest.h>

#include <thread>

#include "platform/ns/Format.h"
#include "signin/DSTelemetry.h"
#include "signin/DSTelemetryCacheEvent.h"
#include "signin/DSTelemetryHttpEvent.h"
#include "tests/support/ManualRunLoop.h"

namespace {

class RecordingDispatcher : public DSDispatcher {
public:
    void dispatchEvent(const std::vector<DSTelemetryProperty>& event) override {
        std::lock_guard lock(mutex);
        events.push_back(event);
    }
    std::mutex mutex;
    std::vector<std::vector<DSTelemetryProperty>> events;
};

std::optional<std::string> valueOf(const std::vector<DSTelemetryProperty>& record,
                                   const std::string& name) {
    for (const auto& p : record) {
        if (p.name == name) return p.value;
    }
    return std::nullopt;
}

class DSTelemetryTest : public testsupport::ManualRunLoop {
protected:
    void SetUp() override {
        ManualRunLoop::SetUp();
        dispatcher = std::make_shared<RecordingDispatcher>();
    }
    void TearDown() override {
        DSTelemetry::sharedInstance().registerDispatcher(nullptr, false);
        ManualRunLoop::TearDown();
    }
    DSTelemetry& hub() { return DSTelemetry::sharedInstance(); }
    std::shared_ptr<RecordingDispatcher> dispatcher;
};

TEST_F(DSTelemetryTest, StoppedEventCarriesTimesOfTheLaterStart) {
    hub().registerDispatcher(dispatcher, false);
    const std::string id = hub().registerNewRequest();
    hub().startEvent(id, "http_request");
    clock().advanceSeconds(5);
    hub().startEvent(id, "http_request");  // the later start wins
    clock().advanceSeconds(1.5);
    auto event = std::make_shared<DSTelemetryHttpEvent>("http_request", id, ns::UUID());
    hub().stopEvent(id, event);
    ASSERT_EQ(dispatcher->events.size(), 1u);
    EXPECT_EQ(valueOf(dispatcher->events[0], "response_time"), "1500.000000");
    EXPECT_EQ(valueOf(dispatcher->events[0], "request_id"), id);
    EXPECT_TRUE(valueOf(dispatcher->events[0], "start_time"));
    // A second stop finds no start and dispatches nothing.
    hub().stopEvent(id, std::make_shared<DSTelemetryHttpEvent>("http_request", id, ns::UUID()));
    hub().stopEvent("other",
                    std::make_shared<DSTelemetryHttpEvent>("http_request", "other", std::nullopt));
    EXPECT_EQ(dispatcher->events.size(), 1u);
}

TEST_F(DSTelemetryTest, AggregationCountsEventsAndKeepsOnlyDefaultsAndStatuses) {
    hub().registerDispatcher(dispatcher, true);
    const std::string id = hub().registerNewRequest();
    for (int i = 0; i < 2; ++i) {
        hub().startEvent(id, "http_request");
        auto http = std::make_shared<DSTelemetryHttpEvent>("http_request", id, ns::UUID());
        http->setHttpMethod("GET");
        http->setOAuthErrorCode("invalid_grant");
        hub().stopEvent(id, http);
    }
    hub().startEvent(id, "token_cache_lookup");
    auto cache = std::make_shared<DSTelemetryCacheEvent>("token_cache_lookup", id, ns::UUID());
    cache->setMRRTStatus("tried");
    cache->setProperty("", "ignored");
    cache->setProperty("x", std::nullopt);
    hub().stopEvent(id, cache);
    EXPECT_TRUE(dispatcher->events.empty());
    hub().flush(id);
    ASSERT_EQ(dispatcher->events.size(), 1u);
    const auto& record = dispatcher->events[0];
    EXPECT_EQ(valueOf(record, "http_event_count"), "2");
    EXPECT_EQ(valueOf(record, "cache_event_count"), "1");
    EXPECT_EQ(valueOf(record, "oauth_error_code"), "invalid_grant");
    EXPECT_EQ(valueOf(record, "token_mrrt_status"), "tried");
    EXPECT_EQ(valueOf(record, "http_method"), std::nullopt);
    EXPECT_EQ(valueOf(record, "event_name"), std::nullopt);
    EXPECT_EQ(valueOf(record, "x"), std::nullopt);
    hub().flush(id);
    ASSERT_EQ(dispatcher->events.size(), 2u);
    EXPECT_TRUE(dispatcher->events[1].empty());
}

TEST_F(DSTelemetryTest, StartsThatAreNeverStoppedAreBounded) {
    for (size_t i = 0; i < DSTelemetry::kMaxTrackedEvents + 50; ++i)
        hub().startEvent("bounded-" + std::to_string(i), "token_cache_lookup");
    EXPECT_LE(hub().trackedEventCount(), DSTelemetry::kMaxTrackedEvents);
    // The newest start is still there.
    hub().registerDispatcher(dispatcher, false);
    const std::string last = "bounded-" + std::to_string(DSTelemetry::kMaxTrackedEvents + 49);
    hub().stopEvent(
        last, std::make_shared<DSTelemetryCacheEvent>("token_cache_lookup", last, std::nullopt));
    EXPECT_EQ(dispatcher->events.size(), 1u);
}

// A dispatcher that calls back into the hub would deadlock if it were called under the hub's
// lock; several threads stopping and flushing at once exercise the locking of both maps.
class ReentrantDispatcher : public DSDispatcher {
public:
    void dispatchEvent(const std::vector<DSTelemetryProperty>&) override {
        DSTelemetry::sharedInstance().startEvent("reentrant", "nested");
        ++count;
    }
    std::atomic<int> count{0};
};

TEST_F(DSTelemetryTest, ConcurrencyDispatchersRunOutsideTheHubLock) {
    auto reentrant = std::make_shared<ReentrantDispatcher>();
    for (bool aggregated : {false, true}) {
        hub().registerDispatcher(reentrant, aggregated);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 50; ++i) {
                    const std::string id = ns::format("c%d-%d-%d", aggregated, t, i);
                    hub().startEvent(id, "http_request");
                    hub().stopEvent(id, std::make_shared<DSTelemetryHttpEvent>("http_request", id,
                                                                               std::nullopt));
                    hub().dispatchEventNow(id, std::make_shared<DSTelemetryHttpEvent>(
                                                   "http_request", id, std::nullopt));
                    hub().flush(id);
                }
            });
        }
        for (auto& thread : threads) thread.join();
    }
    EXPECT_EQ(reentrant->count.load(), 4 * 50 * 2 + 4 * 50);
}

}  // namespace
