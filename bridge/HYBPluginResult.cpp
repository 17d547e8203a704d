#include "bridge/HYBPluginResult.h"

#include <array>
#include <cstring>
#include <mutex>

#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Log.h"
#include "platform/ns/UTF8.h"

std::atomic<bool> HYBPluginResult::verbose_{false};

namespace {

constexpr std::array<std::string_view, 10> kStatusMessages = {
    "No result",     "OK",       "Class not found", "Illegal access", "Instantiation error",
    "Malformed url", "IO error", "Invalid action",  "JSON error",     "Error",
};

std::shared_ptr<HYBPluginResult> make(unsigned status, ns::Value message) {
    return std::make_shared<HYBPluginResult>(status, std::move(message));
}

bool isBase64Text(std::string_view text) {
    // No early exit, so that the loop vectorises: the texts checked here are the bridge's
    // largest payloads.
    bool bad = false;
    for (char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') | (c >= 'a' && c <= 'z') | (c >= '0' && c <= '9') |
                        (c == '+') | (c == '/') | (c == '=');
        bad |= !ok;
    }
    return !bad;
}

// The Base64 text of a message that is exactly an array-buffer envelope, or nullptr. Its JSON
// form needs no escaping, so it can be written straight into the callback text: binary
// results are the bridge's large payloads, and going through the general writer would hold
// several copies of them at once.
const std::string* arrayBufferEnvelopeText(const ns::Value& message) {
    const ns::Dictionary* dict = message.dictionary();
    if (!dict || dict->size() != 2) return nullptr;
    const ns::Value& type = message[kHYBTypeKey];
    const ns::Value& data = message[kHYBArrayBufferDataKey];
    if (!type.string() || *type.string() != kHYBTypeArrayBuffer || !data.string()) return nullptr;
    return isBase64Text(*data.string()) ? data.string() : nullptr;
}

}  // namespace

struct HYBPluginResult::EncodedMessage {
    explicit EncodedMessage(std::string text) : json(std::move(text)) {}

    // Never changed while shared: only the sole holder of the result takes it away.
    std::string json;
    std::once_flag read;
    ns::Value value;
};

HYBPluginResult::HYBPluginResult() : HYBPluginResult(HYBResultStatusNoResult, ns::Value()) {}

HYBPluginResult::HYBPluginResult(unsigned status, ns::Value message)
    : status_(status), message_(std::move(message)) {}

std::shared_ptr<HYBPluginResult> HYBPluginResult::resultWithStatus(unsigned status) {
    return make(status, ns::Value());
}

std::shared_ptr<HYBPluginResult> HYBPluginResult::resultWithStatusMessageAsJSON(unsigned status,
                                                                                std::string json) {
    auto result = make(status, ns::Value());
    result->encoded_ = std::make_shared<EncodedMessage>(std::move(json));
    return result;
}

const ns::Value& HYBPluginResult::message() const {
    if (!encoded_) return message_;
    EncodedMessage& encoded = *encoded_;
    std::call_once(encoded.read, [&encoded] {
        auto value = ns::JSONSerialization::read(encoded.json, {.fragmentsAllowed = true});
        if (value) encoded.value = std::move(value).value();
    });
    return encoded.value;
}

std::shared_ptr<HYBPluginResult> HYBPluginResult::resultWithStatusMessageAsString(
    unsigned status, std::string message) {
    return make(status, ns::Value(std::move(message)));
}

std::shared_ptr<HYBPluginResult> HYBPluginResult::resultWithStatusMessageAsArray(
    unsigned status, ns::Array message) {
    return make(status, ns::Value(std::move(message)));
}

std::shared_ptr<HYBPluginResult> HYBPluginResult::resultWithStatusMessageAsInt(unsigned status,
                                                                               int32_t message) {
    return make(status, ns::Value(message));
}

std::shared_ptr<HYBPluginResult> HYBPluginResult::resultWithStatusMessageAsNSInteger(
    unsigned status, int64_t message) {
    return make(status, ns::Value(static_cast<long long>(message)));
}

std::shared_ptr<HYBPluginResult> HYBPluginResult::resultWithStatusMessageAsNSUInteger(
    unsigned status, uint64_t message) {
    return make(status, ns::Value(static_cast<unsigned long long>(message)));
}

std::shared_ptr<HYBPluginResult> HYBPluginResult::resultWithStatusMessageAsDouble(unsigned status,
                                                                                  double message) {
    return make(status, ns::Value(message));
}

std::shared_ptr<HYBPluginResult> HYBPluginResult::resultWithStatusMessageAsBool(unsigned status,
                                                                                bool message) {
    return make(status, ns::Value(message));
}

std::shared_ptr<HYBPluginResult> HYBPluginResult::resultWithStatusMessageAsDictionary(
    unsigned status, ns::Dictionary message) {
    return make(status, ns::Value(std::move(message)));
}

std::shared_ptr<HYBPluginResult> HYBPluginResult::resultWithStatusMessageAsArrayBuffer(
    unsigned status, const ns::Data& message) {
    return make(status, arrayBufferResultMessage(message));
}

std::shared_ptr<HYBPluginResult> HYBPluginResult::resultWithStatusMessageAsMultipart(
    unsigned status, const ns::Array& messages) {
    return make(status, multipartResultMessage(messages));
}

std::shared_ptr<HYBPluginResult> HYBPluginResult::resultWithStatusMessageToErrorObject(
    unsigned status, int32_t errorCode) {
    return make(status, ns::Value::dict({{"code", errorCode}}));
}

ns::Value HYBPluginResult::arrayBufferResultMessage(const ns::Data& data) {
    ns::Dictionary envelope;
    envelope.emplace(kHYBTypeKey, kHYBTypeArrayBuffer);
    envelope.emplace(kHYBArrayBufferDataKey, data.base64EncodedString());
    return ns::Value(std::move(envelope));
}

ns::Value HYBPluginResult::multipartItemResultMessage(const ns::Value& item) {
    if (const ns::Data* data = item.data()) return arrayBufferResultMessage(*data);
    return item;
}

ns::Value HYBPluginResult::multipartResultMessage(const ns::Array& messages) {
    ns::Array parts;
    parts.reserve(messages.size());
    for (const ns::Value& item : messages) parts.push_back(multipartItemResultMessage(item));
    ns::Dictionary envelope;
    envelope.emplace(kHYBTypeKey, kHYBTypeMultiPart);
    envelope.emplace(kHYBMultiPartMessagesKey, std::move(parts));
    return ns::Value(std::move(envelope));
}

std::string_view HYBPluginResult::statusMessage(unsigned status) {
    return status < kStatusMessages.size() ? kStatusMessages[status] : std::string_view();
}

const std::string* HYBPluginResult::passedText(size_t largeBytes, PageMessage::Form& form) const {
    if (encoded_) return nullptr;
    if (const std::string* text = message_.string(); text && text->size() > largeBytes &&
                                                     text->find('\0') == std::string::npos &&
                                                     ns::utf8::isValid(*text)) {
        form = PageMessage::Form::Text;
        return text;
    }
    if (const std::string* base64 = arrayBufferEnvelopeText(message_);
        base64 && base64->size() > largeBytes) {
        form = PageMessage::Form::ArrayBufferBase64;
        return base64;
    }
    return nullptr;
}

// Its underscores are rare in answers, where quotes come every few bytes: looking for them first
// keeps a large answer's scan at memchr's speed rather than stopping at every quote.
bool HYBPluginResult::namesPrototypeKey(std::string_view json) {
    constexpr std::string_view kKey = "\"__proto__\":";
    for (size_t at = 1; at < json.size();) {
        const void* found = std::memchr(json.data() + at, '_', json.size() - at);
        if (!found) return false;
        at = static_cast<size_t>(static_cast<const char*>(found) - json.data());
        if (json.compare(at - 1, kKey.size(), kKey) == 0) return true;
        ++at;
    }
    return false;
}

HYBPluginResult::PageMessage HYBPluginResult::pageMessage(size_t largeBytes) const {
    using Form = PageMessage::Form;
    Form form = Form::Script;
    if (const std::string* text = passedText(largeBytes, form)) return {form, *text};
    std::string json;
    appendArgumentsAsJSON(json);
    // A key "__proto__" written in an object literal sets the object's prototype instead of
    // adding the key; the page's JSON parse keeps it as a key like any other. A large answer
    // is parsed by the page anyway and is not searched.
    form = json.size() > largeBytes || namesPrototypeKey(json) ? Form::JSONText : Form::Script;
    return {form, std::move(json)};
}

HYBPluginResult::PageMessage HYBPluginResult::takePageMessage(size_t largeBytes) {
    PageMessage::Form form = PageMessage::Form::Script;
    // The text lies in this result's own message, which is not const here.
    if (const std::string* text = passedText(largeBytes, form)) {
        return {form, std::move(*const_cast<std::string*>(text))};
    }
    // JSON text of a large answer is passed as it is, whatever keys it writes; when no copy of
    // this result shares it, it is taken rather than copied.
    if (encoded_ && encoded_.use_count() == 1 && encoded_->json.size() > largeBytes) {
        return {PageMessage::Form::JSONText, std::move(encoded_->json)};
    }
    return pageMessage(largeBytes);
}

std::string HYBPluginResult::argumentsAsJSON() const {
    std::string out;
    appendArgumentsAsJSON(out);
    return out;
}

void HYBPluginResult::appendArgumentsAsJSON(std::string& out, size_t trailingBytes) const {
    if (encoded_) {
        if (out.empty() && trailingBytes == 0) {
            out = encoded_->json;
        } else {
            out.reserve(out.size() + encoded_->json.size() + trailingBytes);
            out.append(encoded_->json);
        }
        return;
    }
    if (const std::string* base64 = arrayBufferEnvelopeText(message_)) {
        // Keys in the writer's order ("HYBType" sorts before "data").
        constexpr std::string_view head = R"({"HYBType":"ArrayBuffer","data":")";
        constexpr std::string_view tail = R"("})";
        out.reserve(out.size() + head.size() + base64->size() + tail.size() + trailingBytes);
        out.append(head).append(*base64).append(tail);
        return;
    }
    // The message is written in place, scalars included: wrapping it in an array for the
    // writer would copy every value of a large answer first.
    ns::Result<std::string> json =
        ns::JSONSerialization::write(message_, {.prettyPrinted = false, .fragmentsAllowed = true});
    if (!json) {
        ns::nslog("NSArray JSONString error: %@", json.error());
        out.append("null");
        return;
    }
    if (out.empty() && trailingBytes == 0) {
        out = std::move(json).value();
    } else {
        out.reserve(out.size() + json->size() + trailingBytes);
        out.append(*json);
    }
}
