#include "platform/net/NetlinkReachabilitySource.h"

#include <linux/rtnetlink.h>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/net/RouteLookup.h"

namespace net {

namespace {

constexpr uint32_t kWatchedGroups =
    RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;

}  // namespace

std::shared_ptr<NetlinkReachabilitySource> NetlinkReachabilitySource::create(
    const ReachabilityTarget& target) {
    return std::make_shared<NetlinkReachabilitySource>(target);
}

NetlinkReachabilitySource::~NetlinkReachabilitySource() {
    if (sourceId_) dispatch::RunLoop::main().removeSource(sourceId_);
}

std::optional<ReachabilityFlags> NetlinkReachabilitySource::currentFlags() {
    return RouteLookup::flagsForTarget(target_);
}

bool NetlinkReachabilitySource::setCallback(Callback callback) {
    callback_ = std::move(callback);
    return true;
}

bool NetlinkReachabilitySource::scheduleWithMainRunLoop() {
    if (watcher_) return true;
    auto watcher = NetlinkSocket::open(kWatchedGroups, true);
    if (!watcher) return false;
    std::weak_ptr<NetlinkReachabilitySource> weak = weak_from_this();
    sourceId_ =
        dispatch::RunLoop::main().addSource(watcher->fd(), dispatch::kFdReadable, [weak](unsigned) {
            if (auto self = weak.lock()) {
                self->onAnnouncements();
            }
        });
    watcher_ = std::move(watcher);
    ++generation_;
    lastFlags_.reset();
    evaluationInFlight_ = false;
    evaluateAgain_ = false;
    evaluateLater();
    return true;
}

bool NetlinkReachabilitySource::unscheduleFromMainRunLoop() {
    if (!watcher_) return false;
    dispatch::RunLoop::main().removeSource(sourceId_);
    sourceId_ = 0;
    watcher_.reset();
    ++generation_;
    return true;
}

void NetlinkReachabilitySource::onAnnouncements() {
    if (!watcher_) return;
    watcher_->drain();
    evaluateLater();
}

void NetlinkReachabilitySource::evaluateLater() {
    // One decision at a time; announcements that arrive meanwhile ask for one more.
    if (evaluationInFlight_) {
        evaluateAgain_ = true;
        return;
    }
    evaluationInFlight_ = true;
    std::weak_ptr<NetlinkReachabilitySource> weak = weak_from_this();
    dispatch::Queue::global().async([weak, target = target_, generation = generation_] {
        auto flags = RouteLookup::flagsForTarget(target);
        dispatch::RunLoop::main().post([weak, generation, flags] {
            if (auto self = weak.lock()) self->deliver(generation, flags);
        });
    });
}

void NetlinkReachabilitySource::deliver(uint64_t generation,
                                        std::optional<ReachabilityFlags> flags) {
    if (generation != generation_ || !watcher_) return;
    evaluationInFlight_ = false;
    if (evaluateAgain_) {
        evaluateAgain_ = false;
        evaluateLater();
    }
    if (!flags) return;
    bool first = !lastFlags_;
    bool changed = lastFlags_ != flags;
    lastFlags_ = flags;
    if (!first && changed && callback_) {
        Callback callback = callback_;
        callback(*flags);
    }
}

}  // namespace net
