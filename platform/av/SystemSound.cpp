#include "platform/av/SystemSound.h"

#include <sys/stat.h>

#include <map>
#include <mutex>

namespace av {

namespace {

std::mutex gMutex;
std::map<SystemSound::SoundID, std::string> gSounds;
SystemSound::SoundID gLastID = 0;
SystemSound::PlayObserver gObserver;

}  // namespace

SystemSound::SoundID SystemSound::create(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
    std::lock_guard lock(gMutex);
    if (++gLastID == 0) ++gLastID;
    gSounds[gLastID] = path;
    return gLastID;
}

void SystemSound::play(SoundID id) {
    PlayObserver observer;
    std::string path;
    {
        std::lock_guard lock(gMutex);
        auto it = gSounds.find(id);
        if (it == gSounds.end()) return;
        path = it->second;
        observer = gObserver;
    }
    if (observer) observer(id, path);
}

void SystemSound::dispose(SoundID id) {
    std::lock_guard lock(gMutex);
    gSounds.erase(id);
}

bool SystemSound::exists(SoundID id) {
    std::lock_guard lock(gMutex);
    return gSounds.count(id) != 0;
}

void SystemSound::setPlayObserver(PlayObserver observer) {
    std::lock_guard lock(gMutex);
    gObserver = std::move(observer);
}

}  // namespace av
