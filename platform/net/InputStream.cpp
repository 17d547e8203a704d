#include "platform/net/InputStream.h"

#include "platform/net/SocketConnection.h"

namespace net {

long InputStream::read(uint8_t* buffer, size_t maxLength) {
    return connection_->read(buffer, maxLength);
}

bool InputStream::hasBytesAvailable() const {
    return connection_->hasBytesAvailable();
}

}  // namespace net
