#pragma once

#include "platform/av/VideoCodec.h"

namespace av {

// The video codec on the media libraries. The demuxer reads the one open file it is given, of
// a handful of container formats, and may open nothing else (no network, no further files
// named inside the input), and a bounded number of packets is read per frame, so that a
// crafted file can neither fetch from elsewhere nor keep the decoder busy without end.
// Announced to the module loader as VideoCodec::kClassName.
class MediaLibraryVideoCodec : public VideoCodec {
public:
    ns::Result<std::shared_ptr<ui::Bitmap>> frameAt(int file, double seconds, bool appliesTransform,
                                                    DecodeStop& stop) const override;
    ns::Result<AssetTrackInfo> trackInfo(int file, DecodeStop& stop) const override;
};

}  // namespace av
