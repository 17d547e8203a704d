#include "signin/DSTelemetry.h"

#include <algorithm>

#include "platform/ns/Format.h"
#include "platform/ns/UUID.h"
#include "signin/DSAggregatedDispatcher.h"
#include "signin/DSStringHelpers.h"

DSTelemetry& DSTelemetry::sharedInstance() {
    static DSTelemetry* hub = new DSTelemetry();
    return *hub;
}

void DSTelemetry::registerDispatcher(std::shared_ptr<DSDispatcher> dispatcher,
                                     bool aggregationRequired) {
    std::shared_ptr<DSDefaultDispatcher> wrapped;
    if (dispatcher) {
        wrapped = aggregationRequired
                      ? std::make_shared<DSAggregatedDispatcher>(std::move(dispatcher))
                      : std::make_shared<DSDefaultDispatcher>(std::move(dispatcher));
    }
    dispatch::Lock lock(lock_);
    dispatcher_ = std::move(wrapped);
}

std::string DSTelemetry::registerNewRequest() {
    return ns::UUID().UUIDString();
}

void DSTelemetry::startEvent(const std::optional<std::string>& requestId,
                             const std::optional<std::string>& eventName) {
    if (dsIsStringNilOrBlank(requestId) || dsIsStringNilOrBlank(eventName)) return;
    const std::string key = getEventTrackingKey(*requestId, *eventName);
    const ns::Date now = ns::Date::now();
    dispatch::Lock lock(lock_);
    auto [it, added] = eventTracking_.insert_or_assign(key, now);
    if (!added) return;
    trackingOrder_.push_back(key);
    if (eventTracking_.size() > kMaxTrackedEvents) {
        eventTracking_.erase(trackingOrder_.front());
        trackingOrder_.pop_front();
    }
}

void DSTelemetry::stopEvent(const std::optional<std::string>& requestId,
                            std::shared_ptr<DSTelemetryDefaultEvent> event) {
    if (!event || dsIsStringNilOrBlank(requestId)) return;
    const std::optional<std::string> name = event->property("event_name");
    if (dsIsStringNilOrBlank(name)) return;
    const std::string key = getEventTrackingKey(*requestId, *name);
    std::shared_ptr<DSDefaultDispatcher> dispatcher;
    {
        dispatch::Lock lock(lock_);
        auto it = eventTracking_.find(key);
        if (it == eventTracking_.end()) return;
        const ns::Date start = it->second;
        const ns::Date stop = ns::Date::now();
        event->setStartTime(start);
        event->setStopTime(stop);
        event->setResponseTime(stop.timeIntervalSinceDate(start));
        eventTracking_.erase(it);
        trackingOrder_.erase(std::find(trackingOrder_.begin(), trackingOrder_.end(), key));
        dispatcher = dispatcher_;
    }
    if (dispatcher) dispatcher->receive(*requestId, std::move(event));
}

void DSTelemetry::cancelEvent(const std::optional<std::string>& requestId,
                              const std::string& eventName) {
    if (dsIsStringNilOrBlank(requestId)) return;
    const std::string key = getEventTrackingKey(*requestId, eventName);
    dispatch::Lock lock(lock_);
    auto it = eventTracking_.find(key);
    if (it == eventTracking_.end()) return;
    eventTracking_.erase(it);
    trackingOrder_.erase(std::find(trackingOrder_.begin(), trackingOrder_.end(), key));
}

std::shared_ptr<DSDefaultDispatcher> DSTelemetry::currentDispatcher() const {
    dispatch::Lock lock(lock_);
    return dispatcher_;
}

void DSTelemetry::dispatchEventNow(const std::string& requestId,
                                   std::shared_ptr<const DSTelemetryDefaultEvent> event) {
    if (auto dispatcher = currentDispatcher()) dispatcher->receive(requestId, std::move(event));
}

void DSTelemetry::flush(const std::string& requestId) {
    if (auto dispatcher = currentDispatcher()) dispatcher->flush(requestId);
}

std::string DSTelemetry::getEventTrackingKey(const std::string& requestId,
                                             const std::string& eventName) {
    return ns::format("%@%@%@", requestId, "|", eventName);
}

std::optional<std::string> DSTelemetry::getPropertyFromEvent(const DSTelemetryDefaultEvent& event,
                                                             const std::string& name) {
    return event.property(name);
}

size_t DSTelemetry::trackedEventCount() const {
    dispatch::Lock lock(lock_);
    return eventTracking_.size();
}
