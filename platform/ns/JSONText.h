#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Result.h"
#include "platform/ns/Value.h"

namespace ns {

// JSON text as it arrived (a page call, a batch of commands), kept once and shared by
// everything read from it. The on-demand reader loads its input in blocks, so the buffer
// always holds kPadding readable bytes past the end of the text.
class JSONText {
public:
    static constexpr size_t kPadding = 64;

    // The text copied into a buffer of its own.
    static std::shared_ptr<const JSONText> copy(std::string_view text);
    // The string taken over, padded at its end (without a copy when it has the room).
    static std::shared_ptr<const JSONText> take(std::string text);
    // A buffer of `capacity` bytes, the first `length` of them the text, taken over:
    // `release` frees it when the last reader is done. Needs capacity >= length + kPadding.
    static std::shared_ptr<const JSONText> adopt(const char* data, size_t length, size_t capacity,
                                                 std::function<void()> release);

    JSONText(const JSONText&) = delete;
    JSONText& operator=(const JSONText&) = delete;
    ~JSONText();

    std::string_view text() const { return {data_, length_}; }
    // Readable bytes from the start of the text, padding included.
    size_t capacity() const { return capacity_; }

private:
    JSONText() = default;

    const char* data_ = nullptr;
    size_t length_ = 0;
    size_t capacity_ = 0;
    std::string storage_;  // the buffer, unless one was adopted
    std::function<void()> release_;
};

// One whole JSON value inside a JSONText (the arguments of a page call, one command of a
// batch), holding the text alive. Cheap to copy.
class JSONSlice {
public:
    JSONSlice() = default;
    // The whole text.
    explicit JSONSlice(std::shared_ptr<const JSONText> text);
    // A part of the text, which must lie inside it.
    JSONSlice(std::shared_ptr<const JSONText> text, std::string_view part);

    std::string_view text() const { return part_; }
    bool empty() const { return part_.empty(); }
    // Readable bytes from the start of text(), the rest of the buffer and its padding included.
    size_t readableBytes() const;
    // The text the slice lies in.
    const std::shared_ptr<const JSONText>& owner() const { return text_; }

    // The value, read whole by JSONSerialization::read.
    Result<Value> read(JSONReadOptions options = {}) const;

private:
    std::shared_ptr<const JSONText> text_;
    std::string_view part_;
};

}  // namespace ns
