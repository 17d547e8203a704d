#pragma once

#include <memory>
#include <string_view>

#include "platform/ui/Bitmap.h"

namespace av {

// The QR code generator filter: a message's bytes (byte mode, no character set marker) as a
// QR code picture of one pixel per module, opaque black modules on white, inside a quiet zone
// of kQuietZoneModules white modules on every side. Any thread.
class QRCodeGenerator {
public:
    // The share of code words that can be restored: about 7, 15, 25 and 30 per cent.
    enum class CorrectionLevel { L, M, Q, H };

    static constexpr int kQuietZoneModules = 4;

    // Null for an empty message, for one longer than a QR code holds at that level, and when
    // the encoder fails.
    static std::shared_ptr<ui::Bitmap> generate(std::string_view message, CorrectionLevel level);
    // Whether codes can be made at all: the encoder comes with the barcode libraries' module.
    static bool isAvailable();
};

}  // namespace av
