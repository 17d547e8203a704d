#include "signin/DSAggregatedDispatcher.h"

#include <algorithm>

#include "signin/DSStringHelpers.h"

void DSAggregatedDispatcher::receive(const std::string& requestId,
                                     std::shared_ptr<const DSTelemetryDefaultEvent> event) {
    if (dsIsStringNilOrBlank(requestId) || !event) return;
    dispatch::Lock lock(lock_);
    auto [it, added] = events_.try_emplace(requestId);
    it->second.push_back(std::move(event));
    if (!added) return;
    order_.push_back(requestId);
    if (events_.size() > kMaxOpenRequests) {
        events_.erase(order_.front());
        order_.pop_front();
    }
}

void DSAggregatedDispatcher::flush(const std::string& requestId) {
    std::vector<std::shared_ptr<const DSTelemetryDefaultEvent>> events;
    {
        dispatch::Lock lock(lock_);
        if (auto it = events_.find(requestId); it != events_.end()) {
            events = std::move(it->second);
            events_.erase(it);
            order_.erase(std::find(order_.begin(), order_.end(), requestId));
        }
    }
    std::vector<DSTelemetryProperty> record;
    for (const auto& event : events) event->addAggregatedPropertiesToDictionary(record);
    if (dispatcher_) dispatcher_->dispatchEvent(record);
}
