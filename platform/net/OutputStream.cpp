#include "platform/net/OutputStream.h"

#include "platform/net/SocketConnection.h"

namespace net {

long OutputStream::write(const uint8_t* buffer, size_t length) {
    return connection_->write(buffer, length);
}

bool OutputStream::hasSpaceAvailable() const {
    return connection_->hasSpaceAvailable();
}

}  // namespace net
