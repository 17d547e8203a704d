#include "sdk/core/NEBBackoff.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

struct Row {
    const char* rule;
    NEBBackoff backoff;
    int64_t retry;
    std::optional<double> seconds;
};

// Each SDK part's retry rule, read as the part states it: check-in min(2^n, 32); the default
// token 2^n + 10n up to 20 minutes and 20 minutes from the fifth retry; registration 2^n for
// ten retries; the messaging sign-in 2^n with n at most 10; measurement uploads the remote
// interval doubled, the remote number of times.
TEST(NEBBackoff, EachPartsRuleIsARowOfData) {
    const NEBBackoffPolicies policies;
    const auto upload = NEBBackoffPolicies::measurementUpload(30, 3);
    constexpr auto far = std::numeric_limits<int64_t>::max();
    const Row rows[] = {
        {"check-in", policies.checkin, 0, 1},
        {"check-in", policies.checkin, 4, 16},
        {"check-in", policies.checkin, 5, 32},
        {"check-in", policies.checkin, 10, 32},
        {"check-in", policies.checkin, far, 32},
        {"default token", policies.defaultToken, 0, 1},
        {"default token", policies.defaultToken, 1, 12},
        {"default token", policies.defaultToken, 3, 38},
        {"default token", policies.defaultToken, 4, 56},
        {"default token", policies.defaultToken, 5, 1200},
        {"default token", policies.defaultToken, 64, 1200},
        {"registration", policies.registration, 0, 1},
        {"registration", policies.registration, 9, 512},
        {"registration", policies.registration, 10, std::nullopt},
        {"messaging sign-in", policies.messagingConnect, 1, 2},
        {"messaging sign-in", policies.messagingConnect, 10, 1024},
        {"messaging sign-in", policies.messagingConnect, 11, 1024},
        {"messaging sign-in", policies.messagingConnect, far, 1024},
        {"measurement upload", upload, 0, 30},
        {"measurement upload", upload, 2, 120},
        {"measurement upload", upload, 3, std::nullopt},
        {"a count gone negative", policies.registration, -4, 1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.backoff.delay(row.retry), row.seconds) << row.rule << ", retry " << row.retry;
    }
}

}  // namespace
