#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Result.h"

class HYBBarcodeScanner;

// Carries out one `encode` call: the text as a QR code (error correction level L, the text's
// UTF-8 bytes), enlarged without smoothing to `size` by `size` pixels, written as a JPEG file
// of the best quality with a name of its own in the temporary folder; the page gets the
// file's path, or an error when no picture could be made or written. Main thread.
class HYBqrProcessor {
public:
    static constexpr int64_t kDefaultSize = 300;

    HYBqrProcessor(std::shared_ptr<HYBBarcodeScanner> plugin, std::optional<std::string> callback,
                   std::string stringToEncode);

    void generateImage();
    // The JPEG file's bytes, or an error saying why there is no picture.
    ns::Result<std::string> makeJPEG() const;

    const std::shared_ptr<HYBBarcodeScanner>& plugin() const { return plugin_; }
    void setPlugin(std::shared_ptr<HYBBarcodeScanner> plugin) { plugin_ = std::move(plugin); }
    const std::optional<std::string>& callback() const { return callback_; }
    void setCallback(std::optional<std::string> callback) { callback_ = std::move(callback); }
    const std::string& stringToEncode() const { return stringToEncode_; }
    void setStringToEncode(std::string text) { stringToEncode_ = std::move(text); }
    int64_t size() const { return size_; }
    void setSize(int64_t size) { size_ = size; }

private:
    std::shared_ptr<HYBBarcodeScanner> plugin_;
    std::optional<std::string> callback_;
    std::string stringToEncode_;
    int64_t size_ = kDefaultSize;
};
