#include "sdk/core/NEBHash.h"

#include <farmhash.h>

uint64_t NEBHash::calculatedFingerprintForString(std::string_view text) {
    return util::Fingerprint64(text.data(), text.size());
}
