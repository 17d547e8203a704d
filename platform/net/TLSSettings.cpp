#include "platform/net/TLSSettings.h"

#include <mutex>

namespace net {

namespace {

std::mutex& settingsMutex() {
    static std::mutex mutex;
    return mutex;
}

// Read by connections on other threads, which may still be opening while the program exits:
// never destroyed.
std::string& extraFile() {
    static auto& path = *new std::string();
    return path;
}

}  // namespace

void TLSSettings::setExtraCAFile(std::string path) {
    std::lock_guard lock(settingsMutex());
    extraFile() = std::move(path);
}

std::string TLSSettings::extraCAFile() {
    std::lock_guard lock(settingsMutex());
    return extraFile();
}

}  // namespace net
