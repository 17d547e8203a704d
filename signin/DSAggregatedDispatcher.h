#pragma once

#include <deque>
#include <map>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "signin/DSDefaultDispatcher.h"

// Gathers the events of each request and passes one aggregated record on when the request is
// flushed.
class DSAggregatedDispatcher : public DSDefaultDispatcher {
public:
    // Requests that are never flushed would otherwise keep their events for ever: beyond this
    // many open requests the oldest is dropped.
    static constexpr size_t kMaxOpenRequests = 256;

    using DSDefaultDispatcher::DSDefaultDispatcher;

    void receive(const std::string& requestId,
                 std::shared_ptr<const DSTelemetryDefaultEvent> event) override;
    void flush(const std::string& requestId) override;

private:
    dispatch::Mutex lock_;
    std::map<std::string, std::vector<std::shared_ptr<const DSTelemetryDefaultEvent>>> events_
        GUARDED_BY(lock_);
    std::deque<std::string> order_ GUARDED_BY(lock_);
};
