#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Frame sizes: the read buffer starts small and grows in steps up to the cap, which bounds a
// whole frame (tag, length and payload).
inline constexpr size_t kNEBMessagingInitialBufferSize = 16384;
inline constexpr size_t kNEBMessagingMaxBufferSize = 1048576;

// Reads tag-length-payload frames from bytes that it does not own. Payloads are views into
// those bytes: nothing is copied.
class NEBMessagingCodedInputStream {
public:
    enum class Result { NeedMore = 1, Error = 2, Frame = 3 };

    explicit NEBMessagingCodedInputStream(std::string_view data) : data_(data) {}

    // The next frame, when it is complete. A tag byte of 0x80 or more, a length with bit 31
    // set, a length varint that no byte within the first ten ends, or a frame longer than the
    // cap is an error; the position moves only past a whole frame.
    Result readFrame(int8_t& tag, std::string_view& payload);
    // What the last Error was, for the log.
    const std::string& errorDescription() const { return error_; }

    bool readTag(int8_t& tag);
    // The length varint: up to five value bytes and five more skipped ones. NeedMore when the
    // bytes run out first, Error when ten bytes all go on (no more bytes could end it).
    Result readLength(int32_t& length);
    bool readDataWithLength(int32_t length, std::string_view& data);

    size_t offset() const { return pos_; }

private:
    Result fail(std::string description);

    std::string_view data_;
    size_t pos_ = 0;
    std::string error_;
};
