#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/ns/Error.h"

namespace net {

// One TLS client session over a connected, non-blocking socket (SocketConnection's secure
// streams), made by the TLSEngine.
class TLSSession {
public:
    // What a step came to: done, or waiting for the socket to become readable or writable, or
    // the peer closed the session (reads only), or it failed (error() says why).
    enum class Outcome { Done, WantsRead, WantsWrite, Ended, Failed };

    virtual ~TLSSession() = default;

    virtual Outcome handshake() = 0;
    // Moves at most `length` bytes; `moved` holds how many when Done.
    virtual Outcome read(uint8_t* buffer, size_t length, size_t& moved) = 0;
    virtual Outcome write(const uint8_t* bytes, size_t length, size_t& moved) = 0;
    // Says goodbye to the peer, as far as the socket takes it now.
    virtual void close() = 0;
    // Why the last step failed: a certificate that is not trusted or does not name the host,
    // a protocol failure, or the socket's own error.
    virtual ns::Error error() const = 0;
};

}  // namespace net
