#include "plugins/media_browser/HYBqrProcessor.h"

#include "platform/av/QRCodeGenerator.h"
#include "platform/dispatch/QueueContract.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/Log.h"
#include "platform/ns/ProcessInfo.h"
#include "platform/ns/Sandbox.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/ImageCodec.h"
#include "plugins/media_browser/HYBBarcodeScanner.h"

namespace {

ns::Error encodeError(const std::string& text) {
    return ns::Error("HYBBarcodeScannerErrorDomain", 1, {{ns::kLocalizedDescriptionKey, text}});
}

}  // namespace

HYBqrProcessor::HYBqrProcessor(std::shared_ptr<HYBBarcodeScanner> plugin,
                               std::optional<std::string> callback, std::string stringToEncode)
    : plugin_(std::move(plugin)),
      callback_(std::move(callback)),
      stringToEncode_(std::move(stringToEncode)) {}

ns::Result<std::string> HYBqrProcessor::makeJPEG() const {
    auto code =
        av::QRCodeGenerator::generate(stringToEncode_, av::QRCodeGenerator::CorrectionLevel::L);
    if (!code) {
        if (stringToEncode_.empty()) return encodeError("There is no text to encode.");
        if (!av::QRCodeGenerator::isAvailable()) {
            return encodeError("QR codes cannot be made: the barcode libraries are not available.");
        }
        return encodeError("The text is too long for a QR code.");
    }
    const ui::Size side{double(size_), double(size_)};
    auto canvas = ui::GraphicsContext::beginImageContext(side, true, 1.0);
    if (!canvas) return encodeError("The QR code picture cannot be made.");
    // Nearest-neighbour enlargement keeps the modules' edges sharp.
    canvas->setInterpolationQuality(ui::GraphicsContext::InterpolationQuality::None);
    canvas->drawBitmap(*code, {{0, 0}, side});
    auto jpeg = ui::ImageCodec::encodeJPEG(*canvas->bitmap(), 1.0);
    if (!jpeg) return encodeError("The QR code picture cannot be encoded.");
    return std::string(jpeg->chars());
}

void HYBqrProcessor::generateImage() {
    HYB_EXPECT_MAIN_THREAD();
    auto jpeg = makeJPEG();
    if (!jpeg.ok()) {
        return plugin_->returnError(jpeg.error().localizedDescription(), callback_);
    }
    const std::string path = ns::Sandbox::temporaryDirectory() +
                             ns::ProcessInfo::processInfo().globallyUniqueString() + ".jpg";
    if (auto written = ns::writeFileAtomically(path, jpeg.value()); !written) {
        ns::nslog("HYBqrProcessor: cannot write %@: %@", path,
                  written.error().localizedDescription());
        return plugin_->returnError("The QR code file cannot be written.", callback_);
    }
    plugin_->returnImage(path, "QR_CODE", callback_);
}
