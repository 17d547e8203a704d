#pragma once

#include <openssl/types.h>

#include <string>

namespace net {

// What every TLS connection of the process trusts: the system's certificate store plus, when
// set, the certificates of one extra PEM file (tests trust their own authority this way).
// Peer certificates and host names are always verified; there is no way to turn that off.
// Usable from any thread; a change applies to connections made afterwards.
class TLSSettings {
public:
    static void setExtraCAFile(std::string path);  // "" removes it
    static std::string extraCAFile();

    // Loads the system store and the extra file into `store`. False when the extra file is set
    // but cannot be read (the store then holds the system certificates only).
    static bool loadTrustAnchors(X509_STORE* store);
    // Only the extra file (for stores that hold the system certificates already).
    static bool loadExtraCAFile(X509_STORE* store);
};

}  // namespace net
