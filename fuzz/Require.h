#pragma once

#include <cstdlib>

namespace fuzzing {

// A broken property of the code under test: abort, so the fuzzer keeps the input.
inline void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace fuzzing
