#include "plugins/media_browser/HYBDesktopURLOpener.h"

#include <spawn.h>
#include <sys/wait.h>

#include <string>

#include "platform/dispatch/Queue.h"
#include "platform/ns/Log.h"
#include "platform/ns/StringComponents.h"

extern char** environ;

bool HYBDesktopURLOpener::isOpenable(const ns::URL& url) {
    const std::string scheme = ns::asciiLowercased(url.scheme().value_or(""));
    return scheme == "http" || scheme == "https" || scheme == "mailto" || scheme == "tel";
}

bool HYBDesktopURLOpener::open(const ns::URL& url) {
    if (!isOpenable(url)) {
        ns::nslog("Refused to open %@ outside the application", url.absoluteString());
        return false;
    }
    std::string program = "xdg-open";
    std::string text = url.absoluteString();
    char* argv[] = {program.data(), text.data(), nullptr};
    pid_t child = 0;
    if (::posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
        ns::nslog("Could not start the desktop's URL opener for %@", text);
        return false;
    }
    // The opener hands the URL on and ends; it is reaped off the main thread.
    dispatch::Queue::global().async([child] {
        int status = 0;
        ::waitpid(child, &status, 0);
    });
    return true;
}
