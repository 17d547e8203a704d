#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

// A message as the frame guard script sends it when the body has a JSON form: the view's
// secret, "T" or "F" for whether the posting frame is the top one, the frame's address, a line
// break, the body as JSON text, then exactly `padding` spaces (the room the JSON reader needs
// past the text, so that it reads the body where the engine left it). Anything else, including
// a string a page posts around the guard, is not such a message.
struct WebKitGtkGuardedMessage {
    bool topFrame = false;
    std::string_view address;
    // The JSON text; `padding` readable spaces follow it inside the message.
    std::string_view body;

    static std::optional<WebKitGtkGuardedMessage> read(std::string_view text,
                                                       std::string_view secret, size_t padding);
};
