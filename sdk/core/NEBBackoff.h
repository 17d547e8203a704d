#pragma once

#include <cstdint>
#include <limits>
#include <optional>

// How long an SDK part waits before trying again after a failure. Retry n (counted from 0)
// waits base * 2^min(n, maxExponent) + linear * n seconds, never longer than the cap, and the
// cap itself from retry capFrom on (when set); with a number of attempts, retry n exists only
// below it.
// Each part's rule is a row of data (NEBBackoffPolicies), not a formula of its own.
struct NEBBackoff {
    double base = 1.0;
    double linear = 0.0;
    int32_t maxExponent = 62;
    double cap = std::numeric_limits<double>::infinity();
    std::optional<int64_t> capFrom;
    std::optional<int64_t> attempts;

    // Seconds before retry n (a negative n counts as 0); nothing when retry n is not allowed.
    std::optional<double> delay(int64_t n) const;
};

// The SDK's retry rules, one row each. The measurement upload's row comes from the remote
// configuration (its retry interval and count), so it is made where that is read.
struct NEBBackoffPolicies {
    // Device check-in: 1, 2, 4 ... seconds, at most 32.
    NEBBackoff checkin{.cap = 32};
    // The default push token: 2^n + 10n seconds, 20 minutes from the fifth retry on.
    NEBBackoff defaultToken{.linear = 10, .cap = 1200, .capFrom = 5};
    // A registration answered "PHONE_REGISTRATION_ERROR": 1, 2, 4 ... 512 seconds, ten times.
    NEBBackoff registration{.attempts = 10};
    // The messaging socket's sign-in: doubling, no further than 2^10 seconds.
    NEBBackoff messagingConnect{.maxExponent = 10};
    // A write or read of the received-message store that failed (its file held by another
    // process, read-only, full): 2, 4, 8 ... seconds, at most a minute.
    NEBBackoff messageStore{.base = 2, .cap = 60};

    // Measurement uploads after a refusal: the interval, doubled each time, `retries` times.
    static NEBBackoff measurementUpload(double retryInterval, int64_t retries) {
        return NEBBackoff{.base = retryInterval, .attempts = retries};
    }
};
