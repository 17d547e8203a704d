#include "platform/ns/JSONText.h"

#include <utility>

#include "platform/ns/Exception.h"
#include "platform/ns/JSONReader.h"

namespace ns {

static_assert(JSONText::kPadding >= simdjson::SIMDJSON_PADDING);

std::shared_ptr<const JSONText> JSONText::copy(std::string_view text) {
    std::string storage;
    storage.reserve(text.size() + kPadding);
    storage.append(text);
    return take(std::move(storage));
}

std::shared_ptr<const JSONText> JSONText::take(std::string text) {
    std::shared_ptr<JSONText> made(new JSONText());
    const size_t length = text.size();
    // White space: a reader that looks past the end sees nothing that could end a token.
    text.append(kPadding, ' ');
    made->storage_ = std::move(text);
    made->data_ = made->storage_.data();
    made->length_ = length;
    made->capacity_ = made->storage_.size();
    return made;
}

std::shared_ptr<const JSONText> JSONText::adopt(const char* data, size_t length, size_t capacity,
                                                std::function<void()> release) {
    if (capacity < length + kPadding) {
        if (release) release();
        throw Exception(kInvalidArgumentException, "JSON text adopted without its padding");
    }
    std::shared_ptr<JSONText> made(new JSONText());
    made->data_ = data;
    made->length_ = length;
    made->capacity_ = capacity;
    made->release_ = std::move(release);
    return made;
}

JSONText::~JSONText() {
    if (release_) release_();
}

JSONSlice::JSONSlice(std::shared_ptr<const JSONText> text)
    : text_(std::move(text)), part_(text_ ? text_->text() : std::string_view()) {}

JSONSlice::JSONSlice(std::shared_ptr<const JSONText> text, std::string_view part)
    : text_(std::move(text)), part_(part) {
    const std::string_view whole = text_ ? text_->text() : std::string_view();
    if (part.empty()) {
        part_ = whole.substr(0, 0);
        return;
    }
    if (part.data() < whole.data() || part.data() + part.size() > whole.data() + whole.size()) {
        throw Exception(kInvalidArgumentException, "JSON slice outside its text");
    }
}

size_t JSONSlice::readableBytes() const {
    if (!text_) return 0;
    return text_->capacity() - static_cast<size_t>(part_.data() - text_->text().data());
}

}  // namespace ns
