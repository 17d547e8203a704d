#include "platform/sec/CryptoLibrary.h"

#include <openssl/crypto.h>

namespace sec {

void keepCryptoLibraryUntilExit() {
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
}

}  // namespace sec
