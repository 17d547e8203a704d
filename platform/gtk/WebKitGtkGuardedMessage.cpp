#include "platform/gtk/WebKitGtkGuardedMessage.h"

std::optional<WebKitGtkGuardedMessage> WebKitGtkGuardedMessage::read(std::string_view text,
                                                                     std::string_view secret,
                                                                     size_t padding) {
    // Without a secret anything could pass for the guard.
    if (secret.empty() || !text.starts_with(secret)) return std::nullopt;
    const size_t flag = secret.size();
    if (text.size() <= flag || (text[flag] != 'T' && text[flag] != 'F')) return std::nullopt;
    const size_t lineBreak = text.find('\n', flag + 1);
    if (lineBreak == std::string_view::npos) return std::nullopt;
    // The body may be empty only in text that is not JSON; the reader refuses it then.
    const size_t bodyStart = lineBreak + 1;
    if (text.size() - bodyStart < padding) return std::nullopt;
    const size_t bodyEnd = text.size() - padding;
    if (text.find_first_not_of(' ', bodyEnd) != std::string_view::npos) return std::nullopt;
    WebKitGtkGuardedMessage message;
    message.topFrame = text[flag] == 'T';
    message.address = text.substr(flag + 1, lineBreak - flag - 1);
    message.body = text.substr(bodyStart, bodyEnd - bodyStart);
    return message;
}
