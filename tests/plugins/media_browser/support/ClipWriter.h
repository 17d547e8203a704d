#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mediatest {

struct Colour {
    unsigned char red, green, blue;
};

// Writes an MP4 clip of `width` x `height` at 10 frames a second, one second per entry of
// `seconds`: the left half of each frame in that second's colour, the right half white. A
// non-zero `rotation` is recorded as the track's display matrix (degrees, as the media
// library's matrix setter takes them: 90 is a camera held a quarter turn sideways, whose
// picture is shown turned a quarter clockwise). False when the media libraries fail.
bool writeClip(const std::string& path, int width, int height, const std::vector<Colour>& seconds,
               double rotation = 0);

// Writes `seconds` of a 440 Hz tone, mono at 44.1 kHz, as an MPEG audio layer II file at
// `bitRate` bits a second. False when the media libraries fail.
bool writeSound(const std::string& path, double seconds, int64_t bitRate);

}  // namespace mediatest
