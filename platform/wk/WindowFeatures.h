#pragma once

#include <optional>

namespace wk {

// What a page asked of a window it opens (window.open's features); nothing when unspecified.
struct WindowFeatures {
    std::optional<double> width;
    std::optional<double> height;
};

}  // namespace wk
