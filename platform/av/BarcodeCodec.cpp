#include "platform/av/BarcodeCodec.h"

#include "platform/rt/ModuleLoader.h"

namespace av {

BarcodeCodec::~BarcodeCodec() = default;

std::shared_ptr<const BarcodeCodec> BarcodeCodec::loaded() {
    return rt::ModuleLoader::shared().create<const BarcodeCodec>(kClassName);
}

}  // namespace av
