#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/Require.h"
#include "platform/av/AssetImageGenerator.h"
#include "platform/ns/URL.h"

using fuzzing::require;

// The generator reads files only, so each input goes through a file of its own: a frame of
// it, and what its header says.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Removed when the run ends, so that runs leave no files behind.
    static const struct Scratch {
        std::string path = "/tmp/fuzz_video_probe." + std::to_string(::getpid()) + ".mp4";
        ~Scratch() { ::unlink(path.c_str()); }
    } scratch;
    const std::string& path = scratch.path;
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return 0;
    std::fwrite(data, 1, size, out);
    std::fclose(out);
    av::AssetImageGenerator generator(ns::URL::fileURLWithPath(path));
    generator.setAppliesPreferredTrackTransform(true);
    auto frame = generator.copyCGImageAtTime(0.5);
    if (frame.ok()) {
        const ui::Bitmap& bitmap = *frame.value();
        require(ui::Bitmap::isAllowedSize(bitmap.width(), bitmap.height()));
        require(bitmap.pixel(bitmap.width() - 1, bitmap.height() - 1).alpha == 0xff);
    }
    // The header of a clip or a sound file, as format data reads it.
    auto info = av::AssetImageGenerator::loadTrackInfo(ns::URL::fileURLWithPath(path));
    if (info.ok()) {
        require(std::isfinite(info.value().duration) && info.value().duration >= 0);
        require(!info.value().audioBitRate || *info.value().audioBitRate > 0);
    }
    return 0;
}
