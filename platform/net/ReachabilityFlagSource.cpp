#include "platform/net/ReachabilityFlagSource.h"

#include <mutex>

#include "platform/net/NetlinkReachabilitySource.h"

namespace net {

namespace {

std::mutex& factoryMutex() {
    static std::mutex mutex;
    return mutex;
}

ReachabilityFlagSource::Factory& currentFactory() {
    static ReachabilityFlagSource::Factory factory;
    return factory;
}

}  // namespace

std::shared_ptr<ReachabilityFlagSource> ReachabilityFlagSource::create(
    const ReachabilityTarget& target) {
    Factory factory;
    {
        std::lock_guard lock(factoryMutex());
        factory = currentFactory();
    }
    if (factory) return factory(target);
    return NetlinkReachabilitySource::create(target);
}

void ReachabilityFlagSource::setFactory(Factory factory) {
    std::lock_guard lock(factoryMutex());
    currentFactory() = std::move(factory);
}

}  // namespace net
