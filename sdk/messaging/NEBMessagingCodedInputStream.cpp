#include "sdk/messaging/NEBMessagingCodedInputStream.h"

NEBMessagingCodedInputStream::Result NEBMessagingCodedInputStream::fail(std::string description) {
    error_ = std::move(description);
    return Result::Error;
}

bool NEBMessagingCodedInputStream::readTag(int8_t& tag) {
    if (pos_ >= data_.size()) return false;
    tag = static_cast<int8_t>(static_cast<uint8_t>(data_[pos_++]));
    return true;
}

NEBMessagingCodedInputStream::Result NEBMessagingCodedInputStream::readLength(int32_t& length) {
    uint32_t value = 0;
    for (int i = 0; i < 10; ++i) {
        if (pos_ >= data_.size()) return Result::NeedMore;
        auto byte = static_cast<uint8_t>(data_[pos_++]);
        if (i < 5) value |= static_cast<uint32_t>(byte & 0x7f) << (7 * i);
        if (!(byte & 0x80)) {
            length = static_cast<int32_t>(value);
            return Result::Frame;
        }
    }
    // Waiting would only fill the buffer: no later byte can end this length.
    return fail("a frame length that does not end within ten bytes");
}

bool NEBMessagingCodedInputStream::readDataWithLength(int32_t length, std::string_view& data) {
    if (length < 0 || data_.size() - pos_ < static_cast<size_t>(length)) return false;
    data = data_.substr(pos_, static_cast<size_t>(length));
    pos_ += static_cast<size_t>(length);
    return true;
}

NEBMessagingCodedInputStream::Result NEBMessagingCodedInputStream::readFrame(
    int8_t& tag, std::string_view& payload) {
    const size_t start = pos_;
    int32_t length = 0;
    if (!readTag(tag)) {
        pos_ = start;
        return Result::NeedMore;
    }
    if (auto read = readLength(length); read != Result::Frame) {
        pos_ = start;
        return read;
    }
    if (tag < 0) {
        return fail("a tag byte of " + std::to_string(static_cast<uint8_t>(tag)));
    }
    if (length < 0) return fail("a frame length with bit 31 set");
    // Refused as soon as the header is known: waiting for the rest could only fill the buffer.
    if (const size_t size = pos_ - start + static_cast<size_t>(length);
        size > kNEBMessagingMaxBufferSize) {
        return fail("a frame of " + std::to_string(size) + " bytes, over the limit of " +
                    std::to_string(kNEBMessagingMaxBufferSize));
    }
    if (!readDataWithLength(length, payload)) {
        pos_ = start;
        return Result::NeedMore;
    }
    return Result::Frame;
}
