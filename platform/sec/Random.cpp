#include "platform/sec/Random.h"

#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "platform/ns/Exception.h"

namespace sec {

ns::Data randomBytes(size_t count) {
    std::vector<uint8_t> bytes(count);
    size_t done = 0;
    while (done < count) {
        int chunk = static_cast<int>(std::min<size_t>(count - done, INT_MAX));
        // Only a generator that cannot be seeded fails; no caller can go on without randomness.
        if (RAND_bytes(bytes.data() + done, chunk) != 1) {
            throw ns::Exception(ns::kInternalInconsistencyException, "the random generator failed");
        }
        done += static_cast<size_t>(chunk);
    }
    return ns::Data(std::move(bytes));
}

}  // namespace sec
