#pragma once

#include "platform/ns/URL.h"

// Hands a URL to the desktop's URL opener ("xdg-open"), as the application's way of opening
// a URL in another program. Only web, mail and phone URLs are handed on; the opener is
// started directly, never through a shell, so no text of the URL is ever interpreted.
class HYBDesktopURLOpener {
public:
    // True when the opener was started.
    static bool open(const ns::URL& url);
    static bool isOpenable(const ns::URL& url);
};
