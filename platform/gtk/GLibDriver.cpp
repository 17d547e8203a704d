#include "platform/gtk/GLibDriver.h"

#include <vector>

#include "platform/dispatch/RunLoop.h"

namespace dispatch {

struct GLibDriver::Source {
    GSource base;
    GLibDriver* driver;
};

GSourceFuncs GLibDriver::sourceFuncs = {
    &GLibDriver::prepare, &GLibDriver::check, &GLibDriver::dispatch, nullptr, nullptr, nullptr};

GLibDriver::GLibDriver() : GLibDriver(RunLoop::main()) {}

GLibDriver::GLibDriver(Scheduler& scheduler) : scheduler_(scheduler) {
    context_ = g_main_context_ref(g_main_context_default());
    loop_ = g_main_loop_new(context_, FALSE);
    source_ = reinterpret_cast<Source*>(g_source_new(&sourceFuncs, sizeof(Source)));
    source_->driver = this;
    g_source_set_name(&source_->base, "dispatch::Scheduler");
    g_source_set_priority(&source_->base, G_PRIORITY_DEFAULT);
    syncDescriptors();
    g_source_attach(&source_->base, context_);
}

GLibDriver::~GLibDriver() {
    g_source_destroy(&source_->base);
    g_source_unref(&source_->base);
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
}

void GLibDriver::run() {
    g_main_loop_run(loop_);
    rethrowPending();
}

void GLibDriver::quit() {
    g_main_loop_quit(loop_);
    g_main_context_wakeup(context_);
}

bool GLibDriver::runUntil(const std::function<bool()>& done, std::chrono::milliseconds cap) {
    bool expired = false;
    const guint timer = g_timeout_add_full(
        G_PRIORITY_HIGH, static_cast<guint>(cap.count()),
        [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &expired, nullptr);
    bool held = done();
    while (!held && !expired && !pending_) {
        g_main_context_iteration(context_, TRUE);
        held = done();
    }
    if (!expired) g_source_remove(timer);
    rethrowPending();
    return held;
}

void GLibDriver::rethrowPending() {
    if (auto error = std::exchange(pending_, nullptr)) std::rethrow_exception(error);
}

// Watches what the scheduler's sources ask for. Every descriptor is added again when the set
// changes, so that a number closed and reused in between is watched afresh.
void GLibDriver::syncDescriptors() {
    const uint64_t generation = scheduler_.sourcesGeneration();
    if (generation == generation_) return;
    for (const auto& [fd, watch] : watched_) g_source_remove_unix_fd(&source_->base, watch.first);
    watched_.clear();
    auto wanted = scheduler_.watchedFds();
    wanted.push_back({scheduler_.wakeFd(), kFdReadable});
    for (const auto& [fd, events] : wanted) {
        auto& watch = watched_[fd];
        watch.second |= events;
    }
    for (auto& [fd, watch] : watched_) {
        const auto condition =
            static_cast<GIOCondition>(Scheduler::toPollEvents(watch.second) | G_IO_ERR | G_IO_HUP);
        watch.first = g_source_add_unix_fd(&source_->base, fd, condition);
    }
    generation_ = generation;
}

bool GLibDriver::anyDescriptorReady() const {
    for (const auto& [fd, watch] : watched_) {
        if (g_source_query_unix_fd(&source_->base, watch.first) != 0) return true;
    }
    return false;
}

gboolean GLibDriver::prepare(GSource* source, gint* timeout) {
    auto& self = *reinterpret_cast<Source*>(source)->driver;
    self.syncDescriptors();
    *timeout = self.scheduler_.pollTimeoutMs();
    return self.scheduler_.hasReadyWork();
}

gboolean GLibDriver::check(GSource* source) {
    auto& self = *reinterpret_cast<Source*>(source)->driver;
    return self.scheduler_.hasReadyWork() || self.anyDescriptorReady();
}

gboolean GLibDriver::dispatch(GSource* source, GSourceFunc, gpointer) {
    reinterpret_cast<Source*>(source)->driver->dispatchTurn();
    return G_SOURCE_CONTINUE;
}

void GLibDriver::dispatchTurn() {
    std::vector<FdEvents> ready;
    for (const auto& [fd, watch] : watched_) {
        if (fd == scheduler_.wakeFd()) continue;  // dispatchReady() clears it
        const auto revents = g_source_query_unix_fd(&source_->base, watch.first);
        if (revents != 0)
            ready.push_back({fd, Scheduler::fromPollEvents(static_cast<short>(revents))});
    }
    try {
        scheduler_.dispatchReady(ready);
    } catch (...) {
        pending_ = std::current_exception();
        g_main_loop_quit(loop_);
    }
}

}  // namespace dispatch
