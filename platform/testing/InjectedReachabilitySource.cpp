#include "platform/testing/InjectedReachabilitySource.h"

#include "platform/dispatch/RunLoop.h"

namespace net {

std::optional<ReachabilityFlags> InjectedReachabilitySource::currentFlags() {
    dispatch::Lock lock(mutex_);
    ++reads_;
    if (!readable_) return std::nullopt;
    return flags_;
}

int InjectedReachabilitySource::readCount() const {
    dispatch::Lock lock(mutex_);
    return reads_;
}

void InjectedReachabilitySource::setFlagsReadable(bool readable) {
    dispatch::Lock lock(mutex_);
    readable_ = readable;
}

bool InjectedReachabilitySource::setCallback(Callback callback) {
    if (callbackFails_ && callback) return false;
    if (callback) ++callbackInstalls_;
    callback_ = std::move(callback);
    return true;
}

bool InjectedReachabilitySource::scheduleWithMainRunLoop() {
    if (schedulingFails_) return false;
    if (!scheduled_) ++schedules_;
    scheduled_ = true;
    return true;
}

bool InjectedReachabilitySource::unscheduleFromMainRunLoop() {
    if (!scheduled_) return false;
    scheduled_ = false;
    return true;
}

void InjectedReachabilitySource::setFlags(ReachabilityFlags flags) {
    {
        dispatch::Lock lock(mutex_);
        flags_ = flags;
    }
    announce();
}

void InjectedReachabilitySource::announce() {
    ReachabilityFlags flags;
    {
        dispatch::Lock lock(mutex_);
        flags = flags_;
    }
    std::weak_ptr<InjectedReachabilitySource> weak = weak_from_this();
    dispatch::RunLoop::main().post([weak, flags] {
        if (auto self = weak.lock()) self->deliver(flags);
    });
}

void InjectedReachabilitySource::deliver(ReachabilityFlags flags) {
    if (!scheduled_ || !callback_) return;
    Callback callback = callback_;
    callback(flags);
}

}  // namespace net
