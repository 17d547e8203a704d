#include "platform/av/SystemSound.h"

#include <sys/stat.h>

#include <map>

#include "platform/dispatch/Mutex.h"

namespace av {

namespace {

dispatch::Mutex gMutex;
std::map<SystemSound::SoundID, std::string> gSounds GUARDED_BY(gMutex);
SystemSound::SoundID gLastID GUARDED_BY(gMutex) = 0;
SystemSound::PlayObserver gObserver GUARDED_BY(gMutex);

}  // namespace

SystemSound::SoundID SystemSound::create(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
    dispatch::Lock lock(gMutex);
    if (++gLastID == 0) ++gLastID;
    gSounds[gLastID] = path;
    return gLastID;
}

void SystemSound::play(SoundID id) {
    PlayObserver observer;
    std::string path;
    {
        dispatch::Lock lock(gMutex);
        auto it = gSounds.find(id);
        if (it == gSounds.end()) return;
        path = it->second;
        observer = gObserver;
    }
    if (observer) observer(id, path);
}

void SystemSound::dispose(SoundID id) {
    dispatch::Lock lock(gMutex);
    gSounds.erase(id);
}

void SystemSound::setPlayObserver(PlayObserver observer) {
    dispatch::Lock lock(gMutex);
    gObserver = std::move(observer);
}

}  // namespace av
