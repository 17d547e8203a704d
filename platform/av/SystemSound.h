#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace av {

// Short sounds made from files, played by identifier. This host has no sound output of its
// own, so a played sound is not heard: it is passed to the play observer (tests, or a host
// that can sound it). Any thread.
class SystemSound {
public:
    using SoundID = uint32_t;
    using PlayObserver = std::function<void(SoundID id, const std::string& path)>;

    // A new sound of the file (a regular file); 0 when there is none.
    static SoundID create(const std::string& path);
    // Nothing for an unknown or disposed identifier.
    static void play(SoundID id);
    static void dispose(SoundID id);
    static void setPlayObserver(PlayObserver observer);
};

}  // namespace av
