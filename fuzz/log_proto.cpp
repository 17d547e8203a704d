// Diagnostic log messages from arbitrary bytes: whatever parses re-serialises to bytes that
// parse to the same message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "proto/icore.pb.h"
#include "proto/logbook.pb.h"

namespace {

template <class Message>
void roundTrip(const uint8_t* data, size_t size) {
    Message message;
    if (!message.ParseFromArray(data, static_cast<int>(size))) return;
    std::string once = message.SerializeAsString();
    Message back;
    if (!back.ParseFromString(once)) std::abort();
    if (back.SerializeAsString() != once) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t* body = data + 1;
    const size_t length = size - 1;
    switch (data[0] % 5) {
        case 0:
            roundTrip<NEB_LOGBOOK::LogRequest>(body, length);
            break;
        case 1:
            roundTrip<NEB_LOGBOOK::LogEvent>(body, length);
            break;
        case 2:
            roundTrip<NEB_ICORE::ICoreConfiguration>(body, length);
            break;
        case 3:
            roundTrip<NEB_LOGBOOK::LogResponse>(body, length);
            break;
        default:
            roundTrip<NEB_LOGBOOK::BatchedLogRequest>(body, length);
            break;
    }
    return 0;
}
