#include "platform/dispatch/Clock.h"

#include "platform/dispatch/Mutex.h"

namespace dispatch {
namespace {
Mutex gClockMutex;
// Never destroyed: queue workers and other threads read the clock while the process exits.
std::shared_ptr<Clock>& clockSlot() REQUIRES(gClockMutex) {
    static auto* slot = new std::shared_ptr<Clock>(std::make_shared<SystemClock>());
    return *slot;
}
}  // namespace

Clock& Clock::current() {
    return *currentShared();
}

std::shared_ptr<Clock> Clock::currentShared() {
    Lock lock(gClockMutex);
    return clockSlot();
}

void Clock::setCurrent(std::shared_ptr<Clock> clock) {
    Lock lock(gClockMutex);
    clockSlot() = clock ? std::move(clock) : std::make_shared<SystemClock>();
}

TimePoint SystemClock::now() const {
    return std::chrono::time_point_cast<Duration>(std::chrono::steady_clock::now());
}

double SystemClock::wallTime() const {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

ManualClock::ManualClock(double wallStart) : wallStart_(wallStart) {}

TimePoint ManualClock::now() const {
    return TimePoint(Duration(monoNanos_.load()));
}

double ManualClock::wallTime() const {
    return wallStart_ + monoNanos_.load() / 1e9;
}

void ManualClock::advance(Duration by) {
    monoNanos_ += by.count();
}

void ManualClock::advanceSeconds(double s) {
    advance(seconds(s));
}

}  // namespace dispatch
