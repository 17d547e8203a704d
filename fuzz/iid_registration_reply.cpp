// Registration replies: the key=value lines and the token forms in them.
#include <cstdlib>
#include <string_view>

#include "sdk/instance_id/NEBInstanceIDRegistrationClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto fields = NEBInstanceIDRegistrationClient::parseFetchTokenResponse(text);
    for (const auto& [key, value] : fields) {
        if (key.find('\n') != std::string::npos || value.find('=') != std::string::npos)
            std::abort();
    }
    uint64_t requestID = size ? data[0] : 0;
    auto token = fields.count("token") ? fields["token"] : std::string(text);
    auto parsed = NEBInstanceIDRegistrationClient::parseToken(token, requestID);
    if (parsed.token && parsed.token->size() > token.size()) std::abort();
    NEBInstanceIDRegistrationClient::isDeleteSuccess(text);
    // What goes into a form field never ends or splits it.
    auto sent = NEBInstanceIDRegistrationClient::formValue(text);
    if (sent.find_first_of("&=\r\n") != std::string::npos) std::abort();
    return 0;
}
