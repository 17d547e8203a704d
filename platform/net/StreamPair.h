#pragma once

#include <memory>
#include <string>

#include "platform/net/InputStream.h"
#include "platform/net/OutputStream.h"

namespace net {

// The platform's connected stream pair: an input and an output stream over one TCP connection
// to host:port, made when the first of them opens. With the security level set to
// NegotiatedSSL the connection speaks TLS 1.2 or later, sends the host name (SNI) and verifies
// the server's chain (against TLSSettings) and its name; otherwise it is plain TCP. The host
// is looked up off the run loop; each address is tried in turn.
class StreamPair {
public:
    struct Streams {
        std::shared_ptr<InputStream> input;
        std::shared_ptr<OutputStream> output;
    };
    static Streams getStreamsToHost(std::string host, int port);
};

}  // namespace net
