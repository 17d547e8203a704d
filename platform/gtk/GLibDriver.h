#pragma once

#include <glib.h>

#include <chrono>
#include <exception>
#include <functional>
#include <map>
#include <utility>

#include "platform/dispatch/Scheduler.h"

namespace dispatch {

// Drives a Scheduler (the main run loop by default) from the GLib main loop of the thread's
// default context, which GTK and the web engine need: the scheduler becomes one GSource
// whose timeout is its next deadline and which watches its wake-up descriptor and the
// descriptors of its sources. Everything else on the GLib loop (windows, the engine's IPC)
// runs interleaved with the scheduler's turns.
//
// Made, run and destroyed on the thread that owns the scheduler. quit() works from any
// thread. An exception that escapes a scheduler callback stops the loop and is rethrown from
// run() or runUntil(), never through GLib's frames.
class GLibDriver {
public:
    explicit GLibDriver(Scheduler& scheduler);
    GLibDriver();  // the main run loop
    ~GLibDriver();
    GLibDriver(const GLibDriver&) = delete;
    GLibDriver& operator=(const GLibDriver&) = delete;

    // Runs the GLib main loop until quit().
    void run();
    void quit();
    // Iterates the GLib loop until `done` answers true (checked after each iteration) or
    // `cap` has passed; answers whether `done` held. For tests and tools that wait on events
    // of the page.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds cap);

private:
    struct Source;

    static GSourceFuncs sourceFuncs;
    static gboolean prepare(GSource* source, gint* timeout);
    static gboolean check(GSource* source);
    static gboolean dispatch(GSource* source, GSourceFunc, gpointer);

    void syncDescriptors();
    bool anyDescriptorReady() const;
    void dispatchTurn();
    void rethrowPending();

    Scheduler& scheduler_;
    GMainContext* context_ = nullptr;
    GMainLoop* loop_ = nullptr;
    Source* source_ = nullptr;
    uint64_t generation_ = ~uint64_t{0};
    // Descriptor -> (GLib tag, events asked for); the wake-up descriptor is among them.
    std::map<int, std::pair<void*, unsigned>> watched_;
    std::exception_ptr pending_;
};

}  // namespace dispatch
