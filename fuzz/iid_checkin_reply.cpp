// Check-in service replies: whatever parses gives an integer device ID kept digit for digit.
#include <cstdlib>
#include <string_view>

#include "sdk/instance_id/NEBInstanceIDCheckinService.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view body(reinterpret_cast<const char*>(data), size);
    auto parsed = NEBInstanceIDCheckinService::parseCheckinResponse(body);
    if (!parsed.ok()) return 0;
    const auto& id = parsed->deviceID;
    if (id.empty()) std::abort();
    for (size_t i = 0; i < id.size(); ++i) {
        if (!(id[i] >= '0' && id[i] <= '9') && !(i == 0 && id[i] == '-')) std::abort();
    }
    if (body.find(id) == std::string_view::npos) std::abort();
    return 0;
}
