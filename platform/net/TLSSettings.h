#pragma once

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
};

}  // namespace net
