#include "platform/av/VideoCodec.h"

#include "platform/rt/ModuleLoader.h"

namespace av {

VideoCodec::~VideoCodec() = default;

std::shared_ptr<const VideoCodec> VideoCodec::loaded() {
    return rt::ModuleLoader::shared().create<const VideoCodec>(kClassName);
}

}  // namespace av
