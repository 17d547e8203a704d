#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class NEBMessagingSecureSocket;

// Told, on the socket's run loop, of whole frames received and sent and of the connection's
// start and end.
class NEBMessagingSecureSocketDelegate {
public:
    virtual ~NEBMessagingSecureSocketDelegate() = default;
    // The payload is valid only during the call.
    virtual void secureSocketDidReceiveData(NEBMessagingSecureSocket& socket, std::string_view data,
                                            int8_t tag) = 0;
    // Every frame of one read from the stream has been handed over.
    virtual void secureSocketDidFinishReading(NEBMessagingSecureSocket& /*socket*/) {}
    virtual void secureSocketDidSendProtoWithTag(NEBMessagingSecureSocket& socket, int8_t tag,
                                                 const std::string& rmqId) = 0;
    virtual void secureSocketDidConnect(NEBMessagingSecureSocket& socket) = 0;
    virtual void didDisconnectWithSecureSocket(NEBMessagingSecureSocket& socket) = 0;
};
