#pragma once

#include <compare>
#include <string>

namespace ns {

// A point in time as seconds since the platform's reference date, 2001-01-01 00:00:00 UTC (the
// platform's date object, whose own measure that is): a date read from a stored form in that
// measure (the binary property list) is kept exactly as stored. Seconds since 1970 are
// converted; they are exact for every date from 1986 on and for whole seconds.
class Date {
public:
    // Seconds between 1970 and the platform's reference date 2001-01-01 00:00:00 UTC.
    static constexpr double kReferenceDateOffset = 978307200.0;

    Date() = default;
    static Date now();  // wall time of dispatch::Clock::current()
    static Date fromTimeIntervalSince1970(double seconds) {
        return Date(seconds - kReferenceDateOffset);
    }
    static Date fromTimeIntervalSinceReferenceDate(double seconds) { return Date(seconds); }
    static Date distantPast() { return Date(-63114076800.0); }   // 0001-01-01
    static Date distantFuture() { return Date(63113904000.0); }  // 4001-01-01

    double timeIntervalSince1970() const { return seconds_ + kReferenceDateOffset; }
    double timeIntervalSinceReferenceDate() const { return seconds_; }
    double timeIntervalSinceDate(const Date& other) const { return seconds_ - other.seconds_; }
    double timeIntervalSinceNow() const { return seconds_ - now().seconds_; }
    Date dateByAddingTimeInterval(double seconds) const { return Date(seconds_ + seconds); }

    // "2001-01-01 00:00:00 +0000", the description that `%@` prints.
    std::string description() const;

    auto operator<=>(const Date&) const = default;

private:
    explicit Date(double seconds) : seconds_(seconds) {}
    double seconds_ = -kReferenceDateOffset;  // a date made without a time: 1970
};

}  // namespace ns
