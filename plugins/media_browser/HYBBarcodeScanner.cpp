#include "plugins/media_browser/HYBBarcodeScanner.h"

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBViewController.h"
#include "platform/av/CaptureDevice.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Bundle.h"
#include "platform/rt/ClassRegistry.h"
#include "plugins/media_browser/HYBbcsProcessor.h"
#include "plugins/media_browser/HYBqrProcessor.h"

namespace {

constexpr const char* kCaptureSessionClassName = "AVCaptureSession";
constexpr const char* kUsageDescriptionKey = "NSCameraUsageDescription";
constexpr const char* kProhibitedText =
    "Access to the camera has been prohibited; please enable it in the Settings app to "
    "continue.";
constexpr const char* kNoUsageDescriptionText =
    "NSCameraUsageDescription is not set in the info.plist";
constexpr const char* kScanUnderWayText = "A scan is already in progress.";

std::optional<std::string> stringOption(const ns::Value& options, std::string_view key) {
    const std::string* text = options[key].string();
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

}  // namespace

void HYBBarcodeScanner::registerClasses(rt::ClassRegistry& registry) {
    registerPluginClass<HYBBarcodeScanner>(registry, kClassName);
    // The camera classes are part of every build of this host; abstract here, as nothing
    // makes one by name.
    registry.registerClass(kCaptureSessionClassName, std::nullopt, nullptr);
}

HYBBarcodeScanner::HYBBarcodeScanner() {
    registerAction("scan", &HYBBarcodeScanner::scan);
    registerAction("encode", &HYBBarcodeScanner::encode);
}

std::shared_ptr<HYBbcsProcessor> HYBBarcodeScanner::activeScan() const {
    auto scan = activeScan_.lock();
    return scan && !scan->isDone() ? scan : nullptr;
}

void HYBBarcodeScanner::scan(const HYBInvokedUrlCommand& command) {
    const auto& callback = command.callbackId();
    const ns::Value options =
        command.arguments().empty() ? ns::Value(ns::Dictionary{}) : command.argumentAtIndex(0);
    if (auto reason = isScanNotPossible()) return returnError(*reason, callback);
    if (notHasPermission()) return returnError(ns::localizedString(kProhibitedText), callback);
    if (!isUsageDescriptionSet())
        return returnError(ns::localizedString(kNoUsageDescriptionText), callback);
    // One camera, one screen: a second scan would fight the first for both.
    if (activeScan()) return returnError(kScanUnderWayText, callback);

    auto self = std::static_pointer_cast<HYBBarcodeScanner>(shared_from_this());
    std::shared_ptr<ui::ViewController> parent = viewController();
    auto processor = std::make_shared<HYBbcsProcessor>(self, callback, parent,
                                                       stringOption(options, "overlayXib"));
    if (options["preferFrontCamera"].boolValue()) processor->setIsFrontCamera(true);
    if (options["showFlipCameraButton"].boolValue()) processor->setIsShowFlipCameraButton(true);
    if (options["showTorchButton"].boolValue()) processor->setIsShowTorchButton(true);
    processor->setIsSuccessBeepEnabled(!options["disableSuccessBeep"].boolValue());
    processor->setIsTransitionAnimated(!options["disableAnimations"].boolValue());
    processor->setFormats(stringOption(options, "formats"));
    activeScan_ = processor;
    dispatch::RunLoop::main().post([processor] { processor->scanBarcode(); });
}

void HYBBarcodeScanner::encode(const HYBInvokedUrlCommand& command) {
    const auto& callback = command.callbackId();
    if (command.arguments().empty()) return returnError("Too few arguments!", callback);
    const ns::Value argument = command.argumentAtIndex(0);
    const ns::Value* data = argument.find("data");
    // The generator needs a text; anything else could only give an empty picture.
    if (!data || !data->isString()) {
        return returnError("The \"data\" to encode must be a string.", callback);
    }
    auto self = std::static_pointer_cast<HYBBarcodeScanner>(shared_from_this());
    auto processor = std::make_shared<HYBqrProcessor>(self, callback, *data->string());
    dispatch::RunLoop::main().post([processor] { processor->generateImage(); });
}

void HYBBarcodeScanner::returnSuccess(const std::string& text, const std::string& format,
                                      bool cancelled, bool /*flipped*/,
                                      const std::optional<std::string>& callback) {
    ns::Dictionary message{{"text", text}, {"format", format}, {"cancelled", cancelled ? 1 : 0}};
    sendToPage(HYBPluginResult::resultWithStatusMessageAsDictionary(HYBResultStatusOK, message),
               callback);
}

void HYBBarcodeScanner::returnImage(const std::string& filePath, const std::string& format,
                                    const std::optional<std::string>& callback) {
    ns::Dictionary message{{"format", format}, {"file", filePath}};
    sendToPage(HYBPluginResult::resultWithStatusMessageAsDictionary(HYBResultStatusOK, message),
               callback);
}

void HYBBarcodeScanner::returnError(const std::string& message,
                                    const std::optional<std::string>& callback) {
    sendToPage(HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusError, message),
               callback);
}

std::optional<std::string> HYBBarcodeScanner::isScanNotPossible() const {
    if (rt::ClassRegistry::shared().isPresent(kCaptureSessionClassName)) return std::nullopt;
    return "AVFoundation Framework not available";
}

bool HYBBarcodeScanner::notHasPermission() const {
    const auto status = av::CaptureDevice::authorizationStatus();
    return status == av::AuthorizationStatus::Restricted ||
           status == av::AuthorizationStatus::Denied;
}

bool HYBBarcodeScanner::isUsageDescriptionSet() const {
    const auto bundle = ns::Bundle::mainBundle();
    const auto& info = bundle->infoDictionary();
    if (info.find(kUsageDescriptionKey) != info.end()) return true;
    // A missing entry comes back as the key itself.
    const std::string text = bundle->localizedStringForKey(kUsageDescriptionKey, "", "InfoPlist");
    return !text.empty() && text != kUsageDescriptionKey;
}
