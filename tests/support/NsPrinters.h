#pragma once

#include <ostream>

#include "platform/ns/Value.h"

// Lets gtest print values as their descriptions in failure messages instead of raw bytes.
namespace ns {

inline void PrintTo(const Value& value, std::ostream* os) {
    *os << value.description() << " (type " << static_cast<int>(value.type()) << ")";
}

inline void PrintTo(const Data& data, std::ostream* os) {
    *os << data.description();
}

}  // namespace ns
