#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch/Scheduler.h"
#include "platform/net/StreamPair.h"
#include "sdk/messaging/NEBMessagingCodedInputStream.h"
#include "sdk/messaging/NEBMessagingPacketQueue.h"
#include "sdk/messaging/NEBMessagingSecureSocketDelegate.h"

// The byte layer of the messaging link: a TLS stream pair to the server, the version byte each
// way, incoming bytes cut into whole frames for the delegate, and queued frames written as the
// stream takes them. One object serves one connection attempt. Everything runs on the run loop
// given to connectToHost().
class NEBMessagingSecureSocket : public net::StreamDelegate,
                                 public std::enable_shared_from_this<NEBMessagingSecureSocket> {
public:
    enum State : uint64_t { kNotOpened = 0, kOpening = 1, kOpen = 2, kClosing = 3, kClosed = 4 };
    static constexpr uint8_t kVersion = 0x28;

    NEBMessagingSecureSocket() = default;
    // Closes the streams without telling the delegate: nothing is called back on an object
    // that is going away.
    ~NEBMessagingSecureSocket() override;

    void setDelegate(std::weak_ptr<NEBMessagingSecureSocketDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    State state() const { return state_; }

    void connectToHost(const std::string& host, uint16_t port, dispatch::Scheduler& runLoop);
    void sendData(std::string data, int8_t tag, std::string rmqId);
    void disconnect();

    void streamHandleEvent(net::Stream& stream, net::StreamEvent event) override;

    // What cutting the valid bytes of the read buffer found: frames were handed on and the
    // rest moved to the front, more bytes are needed, or the stream is unusable.
    bool processCurrentInputBuffer();

private:
    void openStream(net::Stream& stream);
    void closeStream(net::Stream& stream);
    bool performRead();
    void performWrite();
    void finishReadingAtEnd();
    std::shared_ptr<NEBMessagingSecureSocketDelegate> delegate() const { return delegate_.lock(); }

    std::weak_ptr<NEBMessagingSecureSocketDelegate> delegate_;
    State state_ = kNotOpened;
    std::shared_ptr<net::InputStream> inStream_;
    std::shared_ptr<net::OutputStream> outStream_;
    dispatch::Scheduler* runLoop_ = nullptr;

    std::vector<uint8_t> inputBuffer_;
    size_t inputBufferLength_ = 0;
    std::vector<uint8_t> outputBuffer_;
    size_t outputBufferLength_ = 0;
    NEBMessagingPacketQueue packetQueue_;
    bool isVersionSent_ = false;
    bool isVersionReceived_ = false;
    bool isInStreamOpen_ = false;
    bool isOutStreamOpen_ = false;
    std::string currentRmqIdBeingSent_;
    int8_t currentProtoTypeBeingSent_ = -1;
};
