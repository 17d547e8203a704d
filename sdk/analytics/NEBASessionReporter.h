#pragma once

#include <memory>
#include <vector>

#include "platform/ns/NotificationCenter.h"
#include "sdk/analytics/NEBAAlarm.h"
#include "sdk/analytics/NEBAEventPort.h"
#include "sdk/analytics/NEBAPersistedConfig.h"
#include "sdk/analytics/NEBARemoteConfig.h"

// Decides when a session starts ("_s") and reports engagement time ("_e" with "_et" in
// milliseconds), through the facade's port. Its state, its alarms and the application-state
// handlers all live on the main queue; the setters that the engine calls from its worker queue hop
// there, so nothing is shared between threads without a lock. Session state is kept in the
// persisted configuration, so sessions span launches.
class NEBASessionReporter : public std::enable_shared_from_this<NEBASessionReporter> {
public:
    static std::shared_ptr<NEBASessionReporter> initWithPersistedConfig(
        std::shared_ptr<NEBAPersistedConfig> persistedConfig,
        std::shared_ptr<NEBARemoteConfig> remoteConfig, std::shared_ptr<NEBAEventPort> events);
    ~NEBASessionReporter();
    NEBASessionReporter(const NEBASessionReporter&) = delete;
    NEBASessionReporter& operator=(const NEBASessionReporter&) = delete;

    // Any thread: applied on the main queue.
    void setIsReportingEnabled(bool enabled);
    void setMinimumSessionInterval(double seconds);
    void setTimeoutSessionInterval(double seconds);

    // Main queue only.
    bool isReportingEnabled() const { return isReportingEnabled_; }
    double minimumSessionInterval() const { return minimumSessionInterval_; }
    double timeoutSessionInterval() const { return timeoutSessionInterval_; }
    bool shouldStartNewSession() const;
    void logSessionStartEvent();
    void logUserEngagementEvent();
    void rescheduleSessionStartTimer();
    void rescheduleUserEngagementTimer();
    void handleDidBecomeActiveNotification();
    void handleWillResignActiveNotification();
    double incurredEngagementTime() const;

    // Seconds since the machine booted: the steady clock, which restarts with the machine.
    static double currentTime();

private:
    NEBASessionReporter() = default;
    void applyMinimumSessionInterval(double seconds);
    void applyTimeoutSessionInterval(double seconds);

    std::shared_ptr<NEBAPersistedConfig> persistedConfig_;
    std::shared_ptr<NEBARemoteConfig> remoteConfig_;
    std::shared_ptr<NEBAEventPort> events_;
    std::unique_ptr<NEBAAlarm> sessionStartTimer_;
    std::unique_ptr<NEBAAlarm> userEngagementTimer_;
    double becameActiveTimestamp_ = 0;
    bool isReportingEnabled_ = false;
    double minimumSessionInterval_ = 0;
    double timeoutSessionInterval_ = 0;
    std::vector<ns::NotificationCenter::ObserverToken> observers_;
};
