#include "sdk/messaging/NEBMessagingSecureSocket.h"

#include <cstring>

#include "sdk/core/pb.h"
#include "sdk/messaging/NEBMessagingLogger.h"

NEBMessagingSecureSocket::~NEBMessagingSecureSocket() {
    delegate_.reset();
    if (inStream_) closeStream(*inStream_);
    if (outStream_) closeStream(*outStream_);
}

void NEBMessagingSecureSocket::connectToHost(const std::string& host, uint16_t port,
                                             dispatch::Scheduler& runLoop) {
    if (host.empty() || state_ != kNotOpened) return;
    state_ = kOpening;
    runLoop_ = &runLoop;
    auto streams = net::StreamPair::getStreamsToHost(host, port);
    if (!streams.input || !streams.output) return;
    inStream_ = std::move(streams.input);
    outStream_ = std::move(streams.output);
    isInStreamOpen_ = false;
    isOutStreamOpen_ = false;
    openStream(*outStream_);
    openStream(*inStream_);
}

void NEBMessagingSecureSocket::openStream(net::Stream& stream) {
    if (stream.streamStatus() != net::StreamStatus::NotOpen) return;
    stream.setProperty(net::kStreamSocketSecurityLevelNegotiatedSSL,
                       net::kStreamPropertySocketSecurityLevel);
    stream.setDelegate(weak_from_this());
    stream.scheduleInRunLoop(*runLoop_);
    stream.open();
}

void NEBMessagingSecureSocket::closeStream(net::Stream& stream) {
    stream.close();
    if (runLoop_) stream.removeFromRunLoop(*runLoop_);
    stream.setDelegate({});
}

void NEBMessagingSecureSocket::sendData(std::string data, int8_t tag, std::string rmqId) {
    packetQueue_.push(NEBMessagingPacket::packetWithTag(tag, std::move(rmqId), std::move(data)));
    if (state_ == kOpen && outStream_ && outStream_->hasSpaceAvailable()) performWrite();
}

void NEBMessagingSecureSocket::disconnect() {
    if (state_ == kClosing || (!inStream_ && !outStream_)) return;
    state_ = kClosing;
    if (inStream_) {
        closeStream(*inStream_);
        inStream_.reset();
    }
    if (outStream_) {
        closeStream(*outStream_);
        outStream_.reset();
    }
    state_ = kClosed;
    if (auto d = delegate()) d->didDisconnectWithSecureSocket(*this);
}

void NEBMessagingSecureSocket::streamHandleEvent(net::Stream& stream, net::StreamEvent event) {
    // The delegate may drop its last reference to this socket from any callback.
    auto self = shared_from_this();
    switch (event) {
        case net::StreamEvent::OpenCompleted:
            if (&stream == inStream_.get()) isInStreamOpen_ = true;
            if (&stream == outStream_.get()) isOutStreamOpen_ = true;
            if (isInStreamOpen_ && isOutStreamOpen_ && state_ == kOpening) {
                state_ = kOpen;
                if (auto d = delegate()) d->secureSocketDidConnect(*this);
            }
            break;
        case net::StreamEvent::HasBytesAvailable:
            if (state_ == kOpen && !performRead()) disconnect();
            break;
        case net::StreamEvent::HasSpaceAvailable:
            if (state_ == kOpen) performWrite();
            break;
        case net::StreamEvent::EndEncountered:
            finishReadingAtEnd();
            disconnect();
            break;
        case net::StreamEvent::ErrorOccurred:
            disconnect();
            break;
        default:
            break;
    }
}

void NEBMessagingSecureSocket::finishReadingAtEnd() {
    // Frames that arrived with the end are still delivered; a frame cut off by the end is a
    // truncated stream, whatever the TLS layer called the end.
    if (state_ != kOpen || !inStream_) return;
    if (!performRead() || state_ != kOpen) return;
    if (inputBufferLength_ > 0) {
        NEBMessagingSharedLogger().logFuncError(
            __func__, "Connection ended inside a frame, %lu bytes dropped",
            static_cast<unsigned long>(inputBufferLength_));
    }
}

bool NEBMessagingSecureSocket::performRead() {
    if (!isVersionReceived_) {
        uint8_t version = 0;
        long n = inStream_->read(&version, 1);
        if (n == 0) return true;  // nothing there yet: the version byte is still to come
        if (n < 0) return false;
        if (version != kVersion) {
            NEBMessagingSharedLogger().logFuncError(
                __func__, "Unexpected version byte %d from the server, connection dropped",
                static_cast<int>(version));
            return false;
        }
        isVersionReceived_ = true;
    }
    if (inputBuffer_.empty()) inputBuffer_.resize(kNEBMessagingInitialBufferSize);
    while (state_ == kOpen && inStream_ && inStream_->hasBytesAvailable()) {
        long n = inStream_->read(inputBuffer_.data() + inputBufferLength_,
                                 inputBuffer_.size() - inputBufferLength_);
        if (n <= 0) break;
        inputBufferLength_ += static_cast<size_t>(n);
        if (!processCurrentInputBuffer()) return false;
        if (inputBufferLength_ == inputBuffer_.size()) {
            // A partial frame fills the buffer: it can only be one that fits the cap, because
            // the cutter refuses longer ones as soon as their header is in.
            if (inputBuffer_.size() >= kNEBMessagingMaxBufferSize) return false;
            inputBuffer_.resize(std::min(inputBuffer_.size() + kNEBMessagingInitialBufferSize,
                                         kNEBMessagingMaxBufferSize));
        }
    }
    return true;
}

bool NEBMessagingSecureSocket::processCurrentInputBuffer() {
    NEBMessagingCodedInputStream reader(
        {reinterpret_cast<const char*>(inputBuffer_.data()), inputBufferLength_});
    size_t consumed = 0;
    bool ok = true;
    while (state_ == kOpen) {
        int8_t tag = 0;
        std::string_view payload;
        auto result = reader.readFrame(tag, payload);
        if (result == NEBMessagingCodedInputStream::Result::NeedMore) break;
        if (result == NEBMessagingCodedInputStream::Result::Error) {
            // The stream cannot be cut into frames past this point: the connection goes, and
            // the client connects again.
            NEBMessagingSharedLogger().logFuncError(
                __func__, "Received %@ from the server, connection dropped",
                reader.errorDescription());
            ok = false;
            break;
        }
        consumed = reader.offset();
        if (auto d = delegate()) d->secureSocketDidReceiveData(*this, payload, tag);
    }
    if (consumed > 0) {
        if (auto d = delegate()) d->secureSocketDidFinishReading(*this);
    }
    // One move per read, however many frames it held.
    if (consumed == inputBufferLength_) {
        inputBufferLength_ = 0;
    } else if (consumed > 0) {
        std::memmove(inputBuffer_.data(), inputBuffer_.data() + consumed,
                     inputBufferLength_ - consumed);
        inputBufferLength_ -= consumed;
    }
    return ok;
}

void NEBMessagingSecureSocket::performWrite() {
    auto self = shared_from_this();
    while (state_ == kOpen && outStream_ && outStream_->hasSpaceAvailable() &&
           (!outputBuffer_.empty() || !packetQueue_.isEmpty())) {
        if (outputBuffer_.empty()) {
            auto packet = packetQueue_.pop();
            currentRmqIdBeingSent_ = packet->rmqId();
            currentProtoTypeBeingSent_ = packet->tag();
            const auto& data = packet->data();
            auto tag = static_cast<uint32_t>(static_cast<uint8_t>(packet->tag()));
            auto length = static_cast<uint32_t>(data.size());
            // The version byte leads the first frame, so it goes out with it or not at all.
            size_t head = isVersionSent_ ? 0 : 1;
            size_t size = head + pb::io::CodedOutputStream::VarintSize32(tag) +
                          pb::io::CodedOutputStream::VarintSize32(length) + data.size();
            outputBuffer_.resize(size);
            uint8_t* p = outputBuffer_.data();
            if (head) *p++ = kVersion;
            isVersionSent_ = true;
            p = pb::io::CodedOutputStream::WriteVarint32ToArray(tag, p);
            p = pb::io::CodedOutputStream::WriteVarint32ToArray(length, p);
            if (!data.empty()) std::memcpy(p, data.data(), data.size());
            outputBufferLength_ = 0;
        }
        long n = outStream_->write(outputBuffer_.data() + outputBufferLength_,
                                   outputBuffer_.size() - outputBufferLength_);
        if (n <= 0) break;
        outputBufferLength_ += static_cast<size_t>(n);
        if (outputBufferLength_ == outputBuffer_.size()) {
            outputBuffer_.clear();
            outputBufferLength_ = 0;
            int8_t tag = currentProtoTypeBeingSent_;
            std::string rmqId = std::move(currentRmqIdBeingSent_);
            currentRmqIdBeingSent_.clear();
            currentProtoTypeBeingSent_ = -1;
            if (auto d = delegate()) d->secureSocketDidSendProtoWithTag(*this, tag, rmqId);
        }
    }
}
