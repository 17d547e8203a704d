// Prices as the store hands them, in millionths: any text is refused or read exactly. A price
// read with at most six decimals scales exactly with the quantity, and nothing negative or
// beyond 64 bits is ever answered.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/Require.h"
#include "sdk/analytics/NEBAInAppPurchaseTransactionReporter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int64_t quantity = data[0];
    const std::string price(reinterpret_cast<const char*>(data + 1), size - 1);
    auto unit = NEBAInAppPurchaseTransactionReporter::micros(price);
    auto total = NEBAInAppPurchaseTransactionReporter::micros(price, quantity);
    if (unit) fuzzing::require(*unit >= 0);
    if (total) fuzzing::require(*total >= 0);
    const size_t point = price.find('.');
    const bool exact = point == std::string::npos || price.size() - point - 1 <= 6;
    if (unit && total && exact) {
        __int128 expected = static_cast<__int128>(*unit) * quantity;
        fuzzing::require(expected == *total);
    }
    // A text that reads as a price reads as one whatever the quantity, unless the total
    // outgrows 64 bits.
    if (!unit) fuzzing::require(!total || quantity == 0 || !exact);
    return 0;
}
