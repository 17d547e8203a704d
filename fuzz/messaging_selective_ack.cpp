// Selective acknowledgements from the server: the data parses (or not) as a list of ids, and
// an id is taken as an rmq id only when it is the plain decimal text of a positive 64-bit
// number, which then prints back as the same text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/Require.h"
#include "proto/mcs_extensions.pb.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    mcs::McsSelectiveAck ack;
    if (ack.ParseFromArray(data, static_cast<int>(size))) {
        for (const auto& id : ack.id()) {
            if (auto value = NEBMessagingRmqManager::parseRmqId(id)) {
                fuzzing::require(*value > 0);
                fuzzing::require(std::to_string(*value) == id || id[0] == '0');
            }
        }
    }
    std::string text(reinterpret_cast<const char*>(data), size);
    if (auto value = NEBMessagingRmqManager::parseRmqId(text)) fuzzing::require(*value > 0);
    return 0;
}
