// A string posted to a script message handler, read as the frame guard's message (secret,
// frame flag, address, line break, JSON body, padding). What reads must be exactly the parts the
// text is made of; the same bytes wrapped as the guard wraps them must read back as themselves.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/Require.h"
#include "platform/gtk/WebKitGtkGuardedMessage.h"

namespace {

constexpr std::string_view kSecret = "0123456789abcdef";

void readsAsItsParts(std::string_view text, size_t padding) {
    const auto message = WebKitGtkGuardedMessage::read(text, kSecret, padding);
    if (!message) return;
    const std::string again = std::string(kSecret) + (message->topFrame ? "T" : "F") +
                              std::string(message->address) + "\n" + std::string(message->body) +
                              std::string(padding, ' ');
    fuzzing::require(again == text);
    fuzzing::require(message->address.find('\n') == std::string_view::npos);
    // The body and its padding lie inside the text.
    fuzzing::require(message->body.data() >= text.data() &&
                     message->body.data() + message->body.size() + padding ==
                         text.data() + text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t padding = data[0] % 8;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    readsAsItsParts(bytes, padding);
    readsAsItsParts(std::string(kSecret) + std::string(bytes), padding);

    // The bytes as a guard would send them: the address up to the first line break, the rest
    // as the body.
    const size_t lineBreak = bytes.find('\n');
    const std::string_view address = bytes.substr(0, lineBreak);
    const std::string_view body =
        lineBreak == std::string_view::npos ? std::string_view() : bytes.substr(lineBreak + 1);
    const bool top = (data[0] & 8) != 0;
    const std::string sent = std::string(kSecret) + (top ? "T" : "F") + std::string(address) +
                             "\n" + std::string(body) + std::string(padding, ' ');
    const auto message = WebKitGtkGuardedMessage::read(sent, kSecret, padding);
    fuzzing::require(message.has_value());
    fuzzing::require(message->topFrame == top && message->address == address &&
                     message->body == body);
    return 0;
}
