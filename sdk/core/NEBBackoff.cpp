#include "sdk/core/NEBBackoff.h"

#include <algorithm>
#include <cmath>

std::optional<double> NEBBackoff::delay(int64_t n) const {
    if (attempts && n >= *attempts) return std::nullopt;
    n = std::max<int64_t>(n, 0);
    if (capFrom && n >= *capFrom) return cap;
    const auto exponent = static_cast<int>(std::min<int64_t>(n, maxExponent));
    return std::min(std::ldexp(base, exponent) + linear * static_cast<double>(n), cap);
}
