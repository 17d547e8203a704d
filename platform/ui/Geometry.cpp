#include "platform/ui/Geometry.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace ui {
namespace {

// Numbers print like the platform's shortest form: 20 rather than 20.000000, 0.5 as 0.5.
std::string number(double value) {
    if (value == 0) return "0";  // also folds -0
    char buf[32];
    if (std::fabs(value) < 1e15 && value == static_cast<double>(static_cast<int64_t>(value))) {
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(value));
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%.17g", value);
    // Prefer the shortest text that reads back to the same double.
    for (int precision = 1; precision <= 17; ++precision) {
        char shorter[32];
        std::snprintf(shorter, sizeof shorter, "%.*g", precision, value);
        if (std::strtod(shorter, nullptr) == value) return shorter;
    }
    return buf;
}

}  // namespace

std::string toString(Point point) {
    return "{" + number(point.x) + ", " + number(point.y) + "}";
}

std::string toString(Size size) {
    return "{" + number(size.width) + ", " + number(size.height) + "}";
}

std::string toString(const Rect& rect) {
    return "{" + toString(rect.origin) + ", " + toString(rect.size) + "}";
}

}  // namespace ui
