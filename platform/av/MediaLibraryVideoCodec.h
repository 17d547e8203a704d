#pragma once

#include "platform/av/VideoCodec.h"

namespace av {

// The video codec on the media libraries. Only local files of a handful of container formats
// are opened (no network, no playlists that name further files), and a bounded number of
// packets is read per frame, so that a crafted file can neither fetch from elsewhere nor keep
// the decoder busy without end. Announced to the module loader as VideoCodec::kClassName.
class MediaLibraryVideoCodec : public VideoCodec {
public:
    ns::Result<std::shared_ptr<ui::Bitmap>> frameAt(const std::string& path, double seconds,
                                                    bool appliesTransform,
                                                    DecodeStop& stop) const override;
    ns::Result<AssetTrackInfo> trackInfo(const std::string& path, DecodeStop& stop) const override;
};

}  // namespace av
