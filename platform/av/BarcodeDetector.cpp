#include "platform/av/BarcodeDetector.h"

#include <algorithm>

#include "platform/av/BarcodeCodec.h"

namespace av {

const std::vector<MetadataObjectType>& BarcodeDetector::availableTypes() {
    // In the order of the barcode library's format table.
    static const auto& types = *new std::vector<MetadataObjectType>{
        AVMetadataObjectTypeQRCode,         AVMetadataObjectTypeAztecCode,
        AVMetadataObjectTypeDataMatrixCode, AVMetadataObjectTypeUPCECode,
        AVMetadataObjectTypeEAN8Code,       AVMetadataObjectTypeEAN13Code,
        AVMetadataObjectTypeCode128Code,    AVMetadataObjectTypeCode93Code,
        AVMetadataObjectTypeCode39Code,     AVMetadataObjectTypeInterleaved2of5Code,
        AVMetadataObjectTypeITF14Code,      AVMetadataObjectTypePDF417Code,
    };
    return types;
}

BarcodeDetector::BarcodeDetector(const std::vector<MetadataObjectType>& types) {
    for (const auto& type : availableTypes()) {
        if (std::find(types.begin(), types.end(), type) != types.end()) types_.push_back(type);
    }
    if (!types_.empty()) codec_ = BarcodeCodec::loaded();
}

std::vector<MetadataMachineReadableCodeObject> BarcodeDetector::detect(
    const ui::Bitmap& frame) const {
    const int64_t pixels = int64_t(frame.width()) * frame.height();
    if (!codec_ || types_.empty() || pixels == 0 || pixels > kMaxFramePixels) return {};
    return codec_->detect(frame, types_);
}

bool BarcodeDetector::isAvailable() {
    return BarcodeCodec::loaded() != nullptr;
}

}  // namespace av
