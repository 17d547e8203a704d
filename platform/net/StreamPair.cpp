#include "platform/net/StreamPair.h"

#include "platform/net/SocketConnection.h"

namespace net {

StreamPair::Streams StreamPair::getStreamsToHost(std::string host, int port) {
    auto connection = std::make_shared<SocketConnection>(std::move(host), port);
    return {std::make_shared<InputStream>(connection), std::make_shared<OutputStream>(connection)};
}

}  // namespace net
