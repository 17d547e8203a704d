#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/dispatch/Scheduler.h"
#include "platform/net/NetlinkSocket.h"
#include "platform/net/ReachabilityFlagSource.h"

namespace net {

// Reachability from the kernel's routing tables (see RouteLookup). While scheduled it listens
// to the kernel's link, address and route announcements on the main run loop; after each
// burst it decides the flags again on the global queue (name resolution may wait there) and
// calls back on the main thread when they differ from the last decision. The first decision
// after scheduling sets the baseline without a callback.
class NetlinkReachabilitySource final
    : public ReachabilityFlagSource,
      public std::enable_shared_from_this<NetlinkReachabilitySource> {
public:
    static std::shared_ptr<NetlinkReachabilitySource> create(const ReachabilityTarget& target);
    explicit NetlinkReachabilitySource(ReachabilityTarget target) : target_(std::move(target)) {}
    ~NetlinkReachabilitySource() override;
    NetlinkReachabilitySource(const NetlinkReachabilitySource&) = delete;
    NetlinkReachabilitySource& operator=(const NetlinkReachabilitySource&) = delete;

    const ReachabilityTarget& target() const override { return target_; }
    std::optional<ReachabilityFlags> currentFlags() override;
    bool setCallback(Callback callback) override;
    bool scheduleWithMainRunLoop() override;
    bool unscheduleFromMainRunLoop() override;

private:
    void onAnnouncements();
    void evaluateLater();
    void deliver(uint64_t generation, std::optional<ReachabilityFlags> flags);

    const ReachabilityTarget target_;
    Callback callback_;
    std::optional<NetlinkSocket> watcher_;
    dispatch::SourceId sourceId_ = 0;
    // Bumped at every schedule and unschedule: a decision made for an earlier schedule is
    // dropped on arrival.
    uint64_t generation_ = 0;
    std::optional<ReachabilityFlags> lastFlags_;
    bool evaluationInFlight_ = false;
    bool evaluateAgain_ = false;
};

}  // namespace net
