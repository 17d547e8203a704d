#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/net/Stream.h"

namespace net {

class InputStream final : public Stream {
public:
    InputStream(std::shared_ptr<SocketConnection> connection)
        : Stream(std::move(connection), Side::Input) {}

    // Up to maxLength received bytes: the count, 0 when nothing is there now (or at the end),
    // -1 when the stream is closed or has failed.
    long read(uint8_t* buffer, size_t maxLength);
    bool hasBytesAvailable() const;
};

}  // namespace net
