#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/dispatch/Mutex.h"
#include "platform/net/ReachabilityFlagSource.h"

namespace net {

// A reachability source whose flags are set by hand (tests, and a host that simulates
// network changes). setFlags() calls back on the main run loop, on a later turn, while the
// source is scheduled and has a callback; each step can be made to fail.
class InjectedReachabilitySource final
    : public ReachabilityFlagSource,
      public std::enable_shared_from_this<InjectedReachabilitySource> {
public:
    explicit InjectedReachabilitySource(ReachabilityTarget target,
                                        ReachabilityFlags flags = kReachabilityFlagsReachable)
        : target_(std::move(target)), flags_(flags) {}

    const ReachabilityTarget& target() const override { return target_; }
    std::optional<ReachabilityFlags> currentFlags() override;
    bool setCallback(Callback callback) override;
    bool scheduleWithMainRunLoop() override;
    bool unscheduleFromMainRunLoop() override;

    // The new flags, announced to the callback when scheduled. Any thread.
    void setFlags(ReachabilityFlags flags);
    // Announces the current flags again, changed or not (the platform may repeat itself).
    void announce();

    void setFlagsReadable(bool readable);
    void setCallbackFails(bool fails) { callbackFails_ = fails; }
    void setSchedulingFails(bool fails) { schedulingFails_ = fails; }

    bool isScheduled() const { return scheduled_; }
    bool hasCallback() const { return static_cast<bool>(callback_); }
    // How many times a callback was installed and the source scheduled.
    int callbackInstallCount() const { return callbackInstalls_; }
    int scheduleCount() const { return schedules_; }
    // How many times the flags were read.
    int readCount() const;

private:
    void deliver(ReachabilityFlags flags);

    const ReachabilityTarget target_;
    mutable dispatch::Mutex mutex_;
    ReachabilityFlags flags_ GUARDED_BY(mutex_);
    bool readable_ GUARDED_BY(mutex_) = true;
    int reads_ GUARDED_BY(mutex_) = 0;
    // The main thread's.
    Callback callback_;
    bool scheduled_ = false;
    bool callbackFails_ = false;
    bool schedulingFails_ = false;
    int callbackInstalls_ = 0;
    int schedules_ = 0;
};

}  // namespace net
