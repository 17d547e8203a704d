#include "platform/net/ReachabilityFlagSource.h"

#include "platform/dispatch/Mutex.h"
#include "platform/net/NetlinkReachabilitySource.h"

namespace net {

namespace {

dispatch::Mutex& factoryMutex() {
    static dispatch::Mutex mutex;
    return mutex;
}

ReachabilityFlagSource::Factory& currentFactory() REQUIRES(factoryMutex()) {
    static ReachabilityFlagSource::Factory factory;
    return factory;
}

}  // namespace

std::shared_ptr<ReachabilityFlagSource> ReachabilityFlagSource::create(
    const ReachabilityTarget& target) {
    Factory factory;
    {
        dispatch::Lock lock(factoryMutex());
        factory = currentFactory();
    }
    if (factory) return factory(target);
    return NetlinkReachabilitySource::create(target);
}

void ReachabilityFlagSource::setFactory(Factory factory) {
    dispatch::Lock lock(factoryMutex());
    currentFactory() = std::move(factory);
}

}  // namespace net
