#include "platform/net/TLSSettings.h"

#include "platform/dispatch/Mutex.h"

namespace net {

namespace {

dispatch::Mutex& settingsMutex() {
    static dispatch::Mutex mutex;
    return mutex;
}

// Read by connections on other threads, which may still be opening while the program exits:
// never destroyed.
std::string& extraFile() REQUIRES(settingsMutex()) {
    static auto& path = *new std::string();
    return path;
}

}  // namespace

void TLSSettings::setExtraCAFile(std::string path) {
    dispatch::Lock lock(settingsMutex());
    extraFile() = std::move(path);
}

std::string TLSSettings::extraCAFile() {
    dispatch::Lock lock(settingsMutex());
    return extraFile();
}

}  // namespace net
