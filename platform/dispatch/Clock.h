#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

namespace dispatch {

using Duration = std::chrono::nanoseconds;
// Monotonic time: nanoseconds since an arbitrary origin that never jumps.
using TimePoint = std::chrono::time_point<std::chrono::steady_clock, Duration>;

// Every timer, delay, back-off and "now" of the program reads one Clock, so that tests can
// replace real time with a manual clock and advance it explicitly.
class Clock {
public:
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
    // Wall time as seconds since 1970-01-01 00:00:00 UTC.
    virtual double wallTime() const = 0;

    // The process-wide clock (the system clock until a test installs another).
    static Clock& current();
    static std::shared_ptr<Clock> currentShared();
    static void setCurrent(std::shared_ptr<Clock> clock);
};

class SystemClock final : public Clock {
public:
    TimePoint now() const override;
    double wallTime() const override;
};

// Time that moves only when a test says so.
class ManualClock final : public Clock {
public:
    explicit ManualClock(double wallStart = 1.7e9);
    TimePoint now() const override;
    double wallTime() const override;
    void advance(Duration by);
    void advanceSeconds(double seconds);

private:
    std::atomic<int64_t> monoNanos_{0};
    double wallStart_;
};

// Saturates at the ends of the range (and maps NaN to zero): delays may come from outside.
inline Duration seconds(double s) {
    constexpr double kMax = 9.2e9;  // just inside the range of Duration
    if (!(s == s)) return Duration::zero();
    if (s >= kMax) return Duration::max();
    if (s <= -kMax) return Duration::min();
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}

// Longer than any real wait; waits given at least this long wait without a time-out.
inline constexpr Duration kForever = std::chrono::hours(24 * 365 * 100);

// t + d, saturating instead of overflowing.
inline TimePoint addSaturating(TimePoint t, Duration d) {
    if (d > Duration::zero() && t.time_since_epoch() > Duration::max() - d) return TimePoint::max();
    if (d < Duration::zero() && t.time_since_epoch() < Duration::min() - d) return TimePoint::min();
    return t + d;
}

}  // namespace dispatch
