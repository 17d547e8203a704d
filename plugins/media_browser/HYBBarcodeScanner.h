#pragma once

#include <memory>
#include <optional>
#include <string>

#include "bridge/HYBPlugin.h"

namespace rt {
class ClassRegistry;
}  // namespace rt

class HYBbcsProcessor;

// The page's barcode service: `scan` reads a code with the camera behind the scanner screen
// and answers its text and format, or that the user cancelled; `encode` writes a text as a
// QR code JPEG file in the temporary folder and answers its path. Each call is carried out by
// a processor of its own; the plug-in only remembers the scan under way, so that a second one
// is refused while it runs.
class HYBBarcodeScanner : public HYBPlugin {
public:
    static constexpr const char* kClassName = "HYBBarcodeScanner";

    // The plug-in, and the camera classes whose presence `scan` checks.
    static void registerClasses(rt::ClassRegistry& registry);

    HYBBarcodeScanner();

    void scan(const HYBInvokedUrlCommand& command);
    void encode(const HYBInvokedUrlCommand& command);

    // The processors' answers.
    void returnSuccess(const std::string& text, const std::string& format, bool cancelled,
                       bool flipped, const std::optional<std::string>& callback);
    void returnImage(const std::string& filePath, const std::string& format,
                     const std::optional<std::string>& callback);
    void returnError(const std::string& message, const std::optional<std::string>& callback);

    // The reason a scan cannot run at all, or nothing.
    std::optional<std::string> isScanNotPossible() const;
    bool notHasPermission() const;
    bool isUsageDescriptionSet() const;

    // The scan under way (until it has answered), or null.
    std::shared_ptr<HYBbcsProcessor> activeScan() const;

private:
    std::weak_ptr<HYBbcsProcessor> activeScan_;
};
