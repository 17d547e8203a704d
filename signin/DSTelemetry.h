#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Date.h"
#include "signin/DSDefaultDispatcher.h"
#include "signin/DSDispatcher.h"
#include "signin/DSTelemetryDefaultEvent.h"

// The process's telemetry hub: times events of requests and hands finished ones to the
// registered dispatcher. Dispatchers are always called outside the hub's lock, so one may
// call back into the hub.
class DSTelemetry {
public:
    // Starts that are never stopped would otherwise stay for ever: beyond this many the
    // oldest is forgotten.
    static constexpr size_t kMaxTrackedEvents = 1024;

    static DSTelemetry& sharedInstance();

    void registerDispatcher(std::shared_ptr<DSDispatcher> dispatcher, bool aggregationRequired);
    std::string registerNewRequest();
    void startEvent(const std::optional<std::string>& requestId,
                    const std::optional<std::string>& eventName);
    void stopEvent(const std::optional<std::string>& requestId,
                   std::shared_ptr<DSTelemetryDefaultEvent> event);
    void dispatchEventNow(const std::string& requestId,
                          std::shared_ptr<const DSTelemetryDefaultEvent> event);
    void flush(const std::string& requestId);
    // Whether a dispatcher receives the events: without one, a caller may end an event's
    // timing with cancelEvent instead of building the event that nobody would receive.
    bool hasDispatcher() const { return currentDispatcher() != nullptr; }
    void cancelEvent(const std::optional<std::string>& requestId, const std::string& eventName);

    static std::string getEventTrackingKey(const std::string& requestId,
                                           const std::string& eventName);
    static std::optional<std::string> getPropertyFromEvent(const DSTelemetryDefaultEvent& event,
                                                           const std::string& name);
    size_t trackedEventCount() const;

private:
    DSTelemetry() = default;
    std::shared_ptr<DSDefaultDispatcher> currentDispatcher() const;

    mutable dispatch::Mutex lock_;
    std::shared_ptr<DSDefaultDispatcher> dispatcher_ GUARDED_BY(lock_);
    std::map<std::string, ns::Date> eventTracking_ GUARDED_BY(lock_);
    std::deque<std::string> trackingOrder_ GUARDED_BY(lock_);
};
