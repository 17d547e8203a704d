#include "services/peers/WebSafeBase64.h"

#include <openssl/evp.h>

namespace peers {

std::string encodeWebSafeUnpadded(const unsigned char* bytes, size_t length) {
    std::string out(4 * ((length + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes,
                            static_cast<int>(length));
    out.resize(static_cast<size_t>(n));
    while (!out.empty() && out.back() == '=') out.pop_back();
    for (char& c : out) {
        if (c == '+') c = '-';
        if (c == '/') c = '_';
    }
    return out;
}

}  // namespace peers
