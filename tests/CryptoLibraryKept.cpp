#include "platform/sec/CryptoLibrary.h"

namespace {

// Test binaries leave as the host does: the TLS library's state is kept until the process is
// gone, so that a key pair still being made on an SDK worker when the last test ends neither
// crashes the exit nor shows as a leak once the library's exit handler freed its tables.
const bool kKept = [] {
    sec::keepCryptoLibraryUntilExit();
    return true;
}();

}  // namespace
