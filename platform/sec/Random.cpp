#include "platform/sec/Random.h"

#include <sys/random.h>

#include <cerrno>
#include <vector>

#include "platform/ns/Exception.h"

namespace sec {

// Straight from the kernel's generator, the one the TLS library seeds its own from: no
// library needs loading for it.
ns::Data randomBytes(size_t count) {
    std::vector<uint8_t> bytes(count);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::getrandom(bytes.data() + done, count - done, 0);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            // Only a kernel without the generator fails; no caller can go on without it.
            throw ns::Exception(ns::kInternalInconsistencyException, "the random generator failed");
        }
    }
    return ns::Data(std::move(bytes));
}

}  // namespace sec
