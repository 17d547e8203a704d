// Topic registration replies: a result comes only from a body that begins with "token=", and
// it is the text up to the next "=", never anything after it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/Require.h"
#include "sdk/messaging/NEBMessagingPubsubRegistrationClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    auto result = NEBMessagingPubsubRegistrationClient::parseReply(text);
    if (!result.ok()) return 0;
    fuzzing::require(text.starts_with("token="));
    fuzzing::require(result->find('=') == std::string::npos);
    fuzzing::require(text.compare(6, result->size(), *result) == 0);
    return 0;
}
