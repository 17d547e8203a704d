#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/ns/FileDescriptor.h"
#include "platform/ns/Result.h"
#include "platform/ns/URL.h"
#include "platform/ui/Bitmap.h"
#include "platform/ui/Geometry.h"

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

// What a media file's header says: its duration in seconds, the natural size of its first
// video track (as stored, before the display matrix turns it), and the bit rate its encoder
// gave its first sound track.
struct AssetTrackInfo {
    double duration = 0;
    std::optional<ui::Size> naturalSize;
    std::optional<int64_t> audioBitRate;
};

// Still frames of a local video file, and what the header of a video or sound file says,
// decoded by the media libraries.
//
// Only regular files are read, reached through a "file" URL or handed over already open (a
// caller that confines paths opens the file itself, in the one step that checks it, and the
// libraries read that very file). The demuxers read the one file and may open nothing else, a
// handful of container formats are allowed, and a bounded number of packets is read per
// frame, so a crafted file cannot make the generator fetch from the network, follow a
// playlist elsewhere, or spin without end.
class AssetImageGenerator {
public:
    // Packets read after the seek before giving up on reaching the wanted time.
    static constexpr int kMaxPacketsPerFrame = 4096;
    // How long one probe, seek and decode may take in all. The work runs off the calling
    // thread; past the budget the caller gets an error at once, the libraries are told to stop
    // at their next read, and whatever the work still produces is dropped.
    static constexpr std::chrono::milliseconds kDefaultWorkBudget{5000};
    static std::chrono::milliseconds workBudget();
    static void setWorkBudget(std::chrono::milliseconds budget);

    // The asset's URL; without one every frame request fails.
    explicit AssetImageGenerator(std::optional<ns::URL> url) : url_(std::move(url)) {}
    // The asset as an open file (read from its start, whatever its offset).
    explicit AssetImageGenerator(ns::FileDescriptor file);

    // Turn frames as the track's display matrix says (quarter turns), as recorded.
    void setAppliesPreferredTrackTransform(bool applies) { appliesTransform_ = applies; }

    // The frame shown at `seconds` (the last frame that starts at or before it; the first
    // frame for earlier times, the last for times past the end), as an opaque bitmap.
    ns::Result<std::shared_ptr<ui::Bitmap>> copyCGImageAtTime(double seconds) const;

    // Duration and natural size from the header of the file at `url` (the same rules as
    // frames: local regular files of the allowed containers, within the work budget).
    static ns::Result<AssetTrackInfo> loadTrackInfo(const ns::URL& url);
    static ns::Result<AssetTrackInfo> loadTrackInfo(ns::FileDescriptor file);

    // The local path the generator reads, or nothing for a URL it does not read.
    static std::optional<std::string> localPath(const ns::URL& url);

private:
    std::optional<ns::URL> url_;
    // Shared with work that may outlive a caller whose budget ran out: the number stays this
    // file's until the last reader has finished.
    std::shared_ptr<ns::FileDescriptor> file_;
    bool appliesTransform_ = false;
};

}  // namespace av
