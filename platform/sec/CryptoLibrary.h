#pragma once

namespace sec {

// Keeps the TLS library's shared state (its locks, providers and tables) alive until the
// process is gone, instead of freeing it from an exit handler. Work of other threads that is
// still running when the main thread leaves (a key pair being generated, a request being
// signed) would otherwise find that state freed under it and crash the process on its way
// out. Call once, early, before other threads use the library.
void keepCryptoLibraryUntilExit();

}  // namespace sec
