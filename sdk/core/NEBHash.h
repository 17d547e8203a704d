#pragma once

#include <cstdint>
#include <string_view>

// The 64-bit fingerprint that application IDs of version 2 carry for their bundle identifier.
class NEBHash {
public:
    // The fingerprint of the text's bytes (no terminating zero); 0x9ae16a3b2f90404f for "".
    static uint64_t calculatedFingerprintForString(std::string_view text);
};
