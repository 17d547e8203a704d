#include "sdk/analytics/NEBASessionReporter.h"

#include <chrono>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/QueueContract.h"
#include "platform/ui/Application.h"
#include "sdk/analytics/NEBAMonitor.h"

namespace {

// Runs on the main queue: inline when already there.
void onMain(std::function<void()> block) {
    if (dispatch::Queue::main().isCurrent())
        block();
    else
        dispatch::Queue::main().async(std::move(block));
}

}  // namespace

std::shared_ptr<NEBASessionReporter> NEBASessionReporter::initWithPersistedConfig(
    std::shared_ptr<NEBAPersistedConfig> persistedConfig,
    std::shared_ptr<NEBARemoteConfig> remoteConfig, std::shared_ptr<NEBAEventPort> events) {
    if (!persistedConfig || !remoteConfig || !events) return nullptr;
    std::shared_ptr<NEBASessionReporter> reporter(new NEBASessionReporter);
    reporter->events_ = std::move(events);
    reporter->persistedConfig_ = std::move(persistedConfig);
    reporter->remoteConfig_ = std::move(remoteConfig);
    reporter->minimumSessionInterval_ = reporter->remoteConfig_->sessionDefaultMinimumInterval();
    reporter->timeoutSessionInterval_ = reporter->remoteConfig_->sessionDefaultTimeoutInterval();
    reporter->becameActiveTimestamp_ = currentTime();
    if (reporter->shouldStartNewSession()) {
        reporter->persistedConfig_->setStartNewSession(true);
        reporter->persistedConfig_->setEngagementTimeBeforeSessionStart(0.0);
    }
    reporter->sessionStartTimer_ = std::make_unique<NEBAAlarm>(dispatch::Queue::main());
    reporter->userEngagementTimer_ = std::make_unique<NEBAAlarm>(dispatch::Queue::main());
    std::weak_ptr<NEBASessionReporter> weak = reporter;
    auto& center = ns::NotificationCenter::defaultCenter();
    reporter->observers_.push_back(center.addObserver(
        ui::kApplicationDidBecomeActiveNotification, nullptr, [weak](const ns::Notification&) {
            if (auto self = weak.lock())
                onMain([self] { self->handleDidBecomeActiveNotification(); });
        }));
    reporter->observers_.push_back(center.addObserver(
        ui::kApplicationWillResignActiveNotification, nullptr, [weak](const ns::Notification&) {
            if (auto self = weak.lock())
                onMain([self] { self->handleWillResignActiveNotification(); });
        }));
    return reporter;
}

NEBASessionReporter::~NEBASessionReporter() {
    for (auto token : observers_) ns::NotificationCenter::defaultCenter().removeObserver(token);
}

double NEBASessionReporter::currentTime() {
    return std::chrono::duration<double>(dispatch::Clock::current().now().time_since_epoch())
        .count();
}

bool NEBASessionReporter::shouldStartNewSession() const {
    double lastStart = persistedConfig_->lastSessionStartTimestamp();
    double lastEngagement = persistedConfig_->lastUserEngagementEventTimestamp();
    if (lastStart == 0 && lastEngagement == 0) return true;
    double reference = lastEngagement != 0 ? lastEngagement : lastStart;
    double gap = becameActiveTimestamp_ - reference;
    // A negative gap means the machine restarted since: a new session.
    return gap < 0 || gap > timeoutSessionInterval_;
}

void NEBASessionReporter::setIsReportingEnabled(bool enabled) {
    onMain([self = shared_from_this(), enabled] {
        self->isReportingEnabled_ = enabled;
        if (!enabled) return;
        if (self->persistedConfig_->startNewSession() &&
            !self->sessionStartTimer_->scheduledTimestamp())
            self->rescheduleSessionStartTimer();
        if (!self->userEngagementTimer_->scheduledTimestamp())
            self->rescheduleUserEngagementTimer();
    });
}

void NEBASessionReporter::setMinimumSessionInterval(double seconds) {
    onMain([self = shared_from_this(), seconds] { self->applyMinimumSessionInterval(seconds); });
}

void NEBASessionReporter::setTimeoutSessionInterval(double seconds) {
    onMain([self = shared_from_this(), seconds] { self->applyTimeoutSessionInterval(seconds); });
}

void NEBASessionReporter::applyMinimumSessionInterval(double seconds) {
    if (seconds < 0) {
        NEBAMonitor::warning("Received negative minimum session duration. Setting to 0.0 instead.");
        seconds = 0.0;
    }
    minimumSessionInterval_ = seconds;
    if (persistedConfig_->startNewSession() && sessionStartTimer_->scheduledTimestamp())
        rescheduleSessionStartTimer();
}

void NEBASessionReporter::applyTimeoutSessionInterval(double seconds) {
    if (seconds < 0) {
        NEBAMonitor::warning("Received negative timeout session duration. Setting to 0.0 instead.");
        seconds = 0.0;
    }
    timeoutSessionInterval_ = seconds;
}

void NEBASessionReporter::rescheduleSessionStartTimer() {
    HYB_EXPECT_MAIN_THREAD();
    NEBAMonitor::debug("Scheduling session start timer");
    std::weak_ptr<NEBASessionReporter> weak = weak_from_this();
    sessionStartTimer_->runAfterDelay(
        minimumSessionInterval_ - persistedConfig_->engagementTimeBeforeSessionStart(), [weak] {
            if (auto self = weak.lock()) self->logSessionStartEvent();
        });
}

void NEBASessionReporter::rescheduleUserEngagementTimer() {
    HYB_EXPECT_MAIN_THREAD();
    NEBAMonitor::debug("Scheduling user engagement timer");
    std::weak_ptr<NEBASessionReporter> weak = weak_from_this();
    userEngagementTimer_->runAfterDelay(remoteConfig_->sessionEventUserEngagementInterval(),
                                        [weak] {
                                            if (auto self = weak.lock())
                                                self->logUserEngagementEvent();
                                        });
}

void NEBASessionReporter::logSessionStartEvent() {
    HYB_EXPECT_MAIN_THREAD();
    if (isReportingEnabled_) events_->logInternalEvent("auto", "_s", {});
    persistedConfig_->setStartNewSession(false);
    persistedConfig_->setLastSessionStartTimestamp(currentTime());
}

void NEBASessionReporter::logUserEngagementEvent() {
    HYB_EXPECT_MAIN_THREAD();
    if (isReportingEnabled_) {
        double seconds = incurredEngagementTime();
        events_->logInternalEvent("auto", "_e",
                                  {{"_et", ns::Value(static_cast<int64_t>(seconds * 1000))}});
    }
    persistedConfig_->setLastUserEngagementEventTimestamp(currentTime());
    rescheduleUserEngagementTimer();
}

double NEBASessionReporter::incurredEngagementTime() const {
    double now = currentTime();
    double start = becameActiveTimestamp_;
    double lastEngagement = persistedConfig_->lastUserEngagementEventTimestamp();
    if (now > lastEngagement) start = std::max(becameActiveTimestamp_, lastEngagement);
    double t = now - start;
    if (t < 0) {
        NEBAMonitor::warning("Incurred engagement time is negative. Setting to 0.0 instead");
        return 0.0;
    }
    return t;
}

void NEBASessionReporter::handleDidBecomeActiveNotification() {
    HYB_EXPECT_MAIN_THREAD();
    becameActiveTimestamp_ = currentTime();
    rescheduleUserEngagementTimer();
    if (shouldStartNewSession()) {
        persistedConfig_->setStartNewSession(true);
        persistedConfig_->setEngagementTimeBeforeSessionStart(0.0);
    }
    if (persistedConfig_->startNewSession()) rescheduleSessionStartTimer();
}

void NEBASessionReporter::handleWillResignActiveNotification() {
    HYB_EXPECT_MAIN_THREAD();
    logUserEngagementEvent();
    userEngagementTimer_->cancel();
    if (persistedConfig_->startNewSession()) {
        sessionStartTimer_->cancel();
        persistedConfig_->setEngagementTimeBeforeSessionStart(
            persistedConfig_->engagementTimeBeforeSessionStart() + incurredEngagementTime());
    }
}
