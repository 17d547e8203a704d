#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/net/ReachabilityFlags.h"
#include "platform/net/ReachabilityTarget.h"

namespace net {

// Where a host's reachability comes from: the current flags on request, and a callback on the
// main run loop whenever they change while the source is scheduled there. A callback that
// was queued never runs after the source has been unscheduled or destroyed.
//
// Each step can fail on its own, as the platform's reachability calls can; a failure is an
// answer of false or nothing, never an exception.
class ReachabilityFlagSource {
public:
    using Callback = std::function<void(ReachabilityFlags)>;
    using Factory =
        std::function<std::shared_ptr<ReachabilityFlagSource>(const ReachabilityTarget&)>;

    // A source for the target from the current factory (by default one that watches the
    // kernel's routing tables); null when it cannot be made.
    static std::shared_ptr<ReachabilityFlagSource> create(const ReachabilityTarget& target);
    // Replaces the factory (tests and the host inject sources); null restores the default.
    static void setFactory(Factory factory);

    virtual ~ReachabilityFlagSource() = default;

    virtual const ReachabilityTarget& target() const = 0;
    // The flags now; nothing when they cannot be read. May wait for name resolution, so
    // callers on the main thread should ask from another queue. Any thread.
    virtual std::optional<ReachabilityFlags> currentFlags() = 0;
    // Installs the change callback (an empty one removes it). Main thread.
    virtual bool setCallback(Callback callback) = 0;
    // Starts and stops watching for changes on the main run loop. Main thread.
    virtual bool scheduleWithMainRunLoop() = 0;
    virtual bool unscheduleFromMainRunLoop() = 0;
};

}  // namespace net
