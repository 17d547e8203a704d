#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/net/Stream.h"

namespace net {

class OutputStream final : public Stream {
public:
    OutputStream(std::shared_ptr<SocketConnection> connection)
        : Stream(std::move(connection), Side::Output) {}

    // Takes as many of the bytes as there is room for (possibly fewer than given, 0 when the
    // connection is not open yet or has no room) and returns the count; -1 when the stream is
    // closed or has failed.
    long write(const uint8_t* buffer, size_t length);
    bool hasSpaceAvailable() const;
};

}  // namespace net
