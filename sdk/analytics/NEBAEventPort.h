#pragma once

#include <functional>
#include <string>

#include "platform/ns/Value.h"
#include "sdk/analytics/NEBAEvent.h"

// The analytics facade as the engine and the reporters under it see it, handed to them when
// they are made: their one way up, so that nothing below the facade calls it by name.
class NEBAEventPort {
public:
    virtual ~NEBAEventPort() = default;
    // An event the SDK makes of its own on another thread (sessions, purchases), on the road of
    // the application's events: stamped now, seen by the listeners, stored by the engine.
    virtual void logInternalEvent(const std::string& origin, const std::string& name,
                                  const ns::Dictionary& parameters) = 0;
    // An event the engine stores by itself: the facade's listeners hear of it.
    virtual void notifyEventListeners(const NEBAEvent& event) = 0;
    // Runs the block on the facade's queue, after the calls queued there before it.
    virtual void afterQueuedCalls(std::function<void()> block) = 0;
};
