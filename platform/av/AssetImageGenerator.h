#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Result.h"
#include "platform/ns/URL.h"
#include "platform/ui/Bitmap.h"

namespace av {

inline constexpr const char* kAVErrorDomain = "AVMediaErrorDomain";

// Error codes of kAVErrorDomain that the generator reports.
enum AVErrorCode : int64_t {
    AVErrorUnknown = -11800,
    AVErrorDecodeFailed = -11821,
    AVErrorFileFormatNotRecognized = -11828,
    AVErrorNoDataCaptured = -11805,
    AVErrorUnsupportedURL = -11850,
};

// Still frames of a local video file, decoded by the media libraries.
//
// Only regular files reached through a "file" URL are read: the demuxers may open nothing but
// local files, a handful of container formats are allowed, and a bounded number of packets is
// read per frame, so a crafted file cannot make the generator fetch from the network, follow
// a playlist elsewhere, or spin without end.
class AssetImageGenerator {
public:
    // Packets read after the seek before giving up on reaching the wanted time.
    static constexpr int kMaxPacketsPerFrame = 4096;

    // The asset's URL; without one every frame request fails.
    explicit AssetImageGenerator(std::optional<ns::URL> url) : url_(std::move(url)) {}

    // Turn frames as the track's display matrix says (quarter turns), as recorded.
    void setAppliesPreferredTrackTransform(bool applies) { appliesTransform_ = applies; }

    // The frame shown at `seconds` (the last frame that starts at or before it; the first
    // frame for earlier times, the last for times past the end), as an opaque bitmap.
    ns::Result<std::shared_ptr<ui::Bitmap>> copyCGImageAtTime(double seconds) const;

    // The local path the generator reads, or nothing for a URL it does not read.
    static std::optional<std::string> localPath(const ns::URL& url);

private:
    std::optional<ns::URL> url_;
    bool appliesTransform_ = false;
};

}  // namespace av
