#define ZX_USE_UTF8 1
#include "platform/av/BarcodeLibraryCodec.h"

#include <ZXing/ReadBarcode.h>
#include <qrencode.h>

#include <algorithm>
#include <iterator>
#include <string_view>

#include "platform/rt/ModuleLoader.h"

namespace av {

namespace {

struct Kind {
    const MetadataObjectType& type;
    ZXing::BarcodeFormat format;
};

// UPC-A is not asked of the library: such a code is then read as an EAN-13 code with its
// leading "0", as callers expect. Both interleaved 2 of 5 kinds come from one library format.
const std::vector<Kind>& kinds() {
    static const auto& table = *new std::vector<Kind>{
        {AVMetadataObjectTypeQRCode, ZXing::BarcodeFormat::QRCode},
        {AVMetadataObjectTypeAztecCode, ZXing::BarcodeFormat::Aztec},
        {AVMetadataObjectTypeDataMatrixCode, ZXing::BarcodeFormat::DataMatrix},
        {AVMetadataObjectTypeUPCECode, ZXing::BarcodeFormat::UPCE},
        {AVMetadataObjectTypeEAN8Code, ZXing::BarcodeFormat::EAN8},
        {AVMetadataObjectTypeEAN13Code, ZXing::BarcodeFormat::EAN13},
        {AVMetadataObjectTypeCode128Code, ZXing::BarcodeFormat::Code128},
        {AVMetadataObjectTypeCode93Code, ZXing::BarcodeFormat::Code93},
        {AVMetadataObjectTypeCode39Code, ZXing::BarcodeFormat::Code39},
        {AVMetadataObjectTypeInterleaved2of5Code, ZXing::BarcodeFormat::ITF},
        {AVMetadataObjectTypeITF14Code, ZXing::BarcodeFormat::ITF},
        {AVMetadataObjectTypePDF417Code, ZXing::BarcodeFormat::PDF417},
    };
    return table;
}

bool hasGTINCheckDigit(std::string_view digits) {
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    int sum = 0;
    // From the right, leaving out the check digit: weights 3, 1, 3, ...
    for (size_t i = 0; i + 1 < digits.size(); ++i) {
        const int digit = digits[digits.size() - 2 - i] - '0';
        sum += (i % 2 == 0) ? 3 * digit : digit;
    }
    return (10 - sum % 10) % 10 == digits.back() - '0';
}

const MetadataObjectType* typeOf(const ZXing::Result& result, const std::string& text) {
    switch (result.format()) {
        case ZXing::BarcodeFormat::QRCode:
            return &AVMetadataObjectTypeQRCode;
        case ZXing::BarcodeFormat::Aztec:
            return &AVMetadataObjectTypeAztecCode;
        case ZXing::BarcodeFormat::DataMatrix:
            return &AVMetadataObjectTypeDataMatrixCode;
        case ZXing::BarcodeFormat::UPCE:
            return &AVMetadataObjectTypeUPCECode;
        case ZXing::BarcodeFormat::UPCA:  // not asked for; as EAN-13 if it comes all the same
        case ZXing::BarcodeFormat::EAN13:
            return &AVMetadataObjectTypeEAN13Code;
        case ZXing::BarcodeFormat::EAN8:
            return &AVMetadataObjectTypeEAN8Code;
        case ZXing::BarcodeFormat::Code128:
            return &AVMetadataObjectTypeCode128Code;
        case ZXing::BarcodeFormat::Code93:
            return &AVMetadataObjectTypeCode93Code;
        case ZXing::BarcodeFormat::Code39:
            return &AVMetadataObjectTypeCode39Code;
        case ZXing::BarcodeFormat::ITF:
            return text.size() == 14 && hasGTINCheckDigit(text)
                       ? &AVMetadataObjectTypeITF14Code
                       : &AVMetadataObjectTypeInterleaved2of5Code;
        case ZXing::BarcodeFormat::PDF417:
            return &AVMetadataObjectTypePDF417Code;
        default:
            return nullptr;
    }
}

QRecLevel libraryLevel(QRCodeGenerator::CorrectionLevel level) {
    switch (level) {
        case QRCodeGenerator::CorrectionLevel::L:
            return QR_ECLEVEL_L;
        case QRCodeGenerator::CorrectionLevel::M:
            return QR_ECLEVEL_M;
        case QRCodeGenerator::CorrectionLevel::Q:
            return QR_ECLEVEL_Q;
        case QRCodeGenerator::CorrectionLevel::H:
            return QR_ECLEVEL_H;
    }
    return QR_ECLEVEL_L;
}

struct CodeDeleter {
    void operator()(QRcode* code) const { QRcode_free(code); }
};

[[maybe_unused]] const bool kAnnounced = [] {
    rt::ModuleLoader::shared().announce(BarcodeCodec::kClassName,
                                        [] { return std::make_shared<BarcodeLibraryCodec>(); });
    return true;
}();

}  // namespace

std::vector<MetadataMachineReadableCodeObject> BarcodeLibraryCodec::detect(
    const ui::Bitmap& frame, const std::vector<MetadataObjectType>& types) const {
    int formats = 0;
    for (const auto& kind : kinds()) {
        if (std::find(types.begin(), types.end(), kind.type) != types.end()) {
            formats |= static_cast<int>(kind.format);
        }
    }
    std::vector<MetadataMachineReadableCodeObject> found;
    if (formats == 0 || frame.width() <= 0 || frame.height() <= 0) return found;
    const auto format = frame.format() == ui::Bitmap::Format::Gray8 ? ZXing::ImageFormat::Lum
                                                                    : ZXing::ImageFormat::BGRX;
    const ZXing::ImageView image(frame.data(), frame.width(), frame.height(), format,
                                 frame.stride());
    // Matrix codes are read all at once. Linear codes are read one a frame: the library tells
    // a linear code read twice (in a smaller copy of the frame, or inverted) from another by a
    // comparison that asserts on some frames, which would end the program; with one code a
    // frame it never compares.
    const int matrix = formats & static_cast<int>(ZXing::BarcodeFormat::MatrixCodes);
    const int linear = formats & ~matrix;
    const double width = frame.width(), height = frame.height();
    ZXing::Results results;
    try {
        if (matrix) {
            results = ZXing::ReadBarcodes(
                image, ZXing::DecodeHints().setFormats(ZXing::BarcodeFormat(matrix)));
        }
        if (linear) {
            auto read = ZXing::ReadBarcodes(image, ZXing::DecodeHints()
                                                       .setFormats(ZXing::BarcodeFormat(linear))
                                                       .setMaxNumberOfSymbols(1));
            std::move(read.begin(), read.end(), std::back_inserter(results));
        }
    } catch (...) {
        // Some detectors of the library throw on odd pictures (an index out of range): such a
        // frame shows no code, and the next frame is searched as usual.
        return found;
    }
    for (const auto& result : results) {
        if (!result.isValid()) continue;
        std::string text = result.text();
        if (result.format() == ZXing::BarcodeFormat::UPCA) text.insert(0, "0");
        const MetadataObjectType* type = typeOf(result, text);
        if (!type || std::find(types.begin(), types.end(), *type) == types.end()) continue;
        std::vector<ui::Point> corners;
        for (const auto& corner : result.position()) {
            corners.push_back({corner.x / width, corner.y / height});
        }
        // Every decoded code carries the text of its bytes in the character set they name or
        // appear to be in. The library calls content with a control character (a tab, an
        // escape) binary, yet it is text the page asked to have read: left without a value it
        // could never be accepted, and the scan would wait for ever.
        found.emplace_back(*type, std::move(text), std::move(corners));
    }
    return found;
}

std::optional<QRModules> BarcodeLibraryCodec::encodeQR(
    std::string_view message, QRCodeGenerator::CorrectionLevel level) const {
    std::unique_ptr<QRcode, CodeDeleter> code(QRcode_encodeData(
        static_cast<int>(message.size()), reinterpret_cast<const unsigned char*>(message.data()), 0,
        libraryLevel(level)));
    if (!code || code->width <= 0) return std::nullopt;
    QRModules modules;
    modules.size = code->width;
    const size_t count = static_cast<size_t>(code->width) * static_cast<size_t>(code->width);
    modules.dark.resize(count);
    // The lowest bit of each of the library's bytes is the module's colour.
    for (size_t i = 0; i < count; ++i) modules.dark[i] = (code->data[i] & 1) != 0;
    return modules;
}

}  // namespace av
