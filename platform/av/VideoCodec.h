#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "platform/av/AssetImageGenerator.h"
#include "platform/ns/Object.h"
#include "platform/ns/Result.h"
#include "platform/ui/Bitmap.h"

namespace av {

// Tells decoding work that overran its budget to stop. The libraries ask between reads; the
// budget bounds effort, it is no timer of the program, so it reads the machine's steady clock.
struct DecodeStop {
    std::chrono::steady_clock::time_point deadline;
    std::atomic<bool> cancelled{false};
    bool stopNow() const { return cancelled || std::chrono::steady_clock::now() > deadline; }
};

// What of the video frames needs the media libraries: probing, seeking and decoding local
// video files. It lives in a module of its own (rt::ModuleLoader), loaded when the first frame
// or track is asked for. Callers hand it local regular files only, already open (it reads the
// descriptor at offsets of its own, from the start, and opens no file itself; the caller keeps
// it open during the call), and run it within a budget.
class VideoCodec : public ns::Object {
public:
    static constexpr const char* kClassName = "AVMediaLibraryVideoCodec";

    // The codec; null when the media libraries cannot be loaded.
    static std::shared_ptr<const VideoCodec> loaded();

    ~VideoCodec() override;

    // The frame shown at `seconds` (the last frame that starts at or before it; the first
    // frame for earlier times, the last for times past the end), as an opaque bitmap, turned
    // as the track's display matrix says when `appliesTransform`.
    virtual ns::Result<std::shared_ptr<ui::Bitmap>> frameAt(int file, double seconds,
                                                            bool appliesTransform,
                                                            DecodeStop& stop) const = 0;
    // Duration and natural size from the file's header.
    virtual ns::Result<AssetTrackInfo> trackInfo(int file, DecodeStop& stop) const = 0;
};

}  // namespace av
