// Text of any content as a decimal: a parsed number prints as text that parses to the same
// number, and comparison agrees with itself.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/AnalyticsFuzzSetup.h"
#include "fuzz/Require.h"
#include "sdk/analytics/NEBADecimal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::analyticsMonitor();
    std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t split = size / 2;
    auto a = NEBADecimal::decimalFromString(text.substr(0, split));
    auto b = NEBADecimal::decimalFromString(text.substr(split));
    if (a) {
        fuzzing::require(NEBADecimal::isDecimalString(text.substr(0, split)));
        auto again = NEBADecimal::decimalFromString(a->text());
        fuzzing::require(again && *again == *a && again->text() == a->text());
    }
    if (a && b) fuzzing::require(a->compare(*b) == -b->compare(*a));
    fuzzing::settleAnalyticsMonitor();
    return 0;
}
