#include "services/peers/WebSafeBase64.h"

#include "platform/ns/Data.h"

namespace peers {

std::string encodeWebSafeUnpadded(const unsigned char* bytes, size_t length) {
    std::string out = ns::Data(bytes, length).base64EncodedString();
    while (!out.empty() && out.back() == '=') out.pop_back();
    for (char& c : out) {
        if (c == '+') c = '-';
        if (c == '/') c = '_';
    }
    return out;
}

}  // namespace peers
