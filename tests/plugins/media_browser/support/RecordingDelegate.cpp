#include "tests/plugins/media_browser/support/RecordingDelegate.h"

#include <filesystem>

namespace mediatest {

std::optional<std::string> RecordingDelegate::pathForResource(std::string_view path) {
    if (www.empty()) return std::nullopt;
    const auto full = std::filesystem::path(www) / path;
    if (!std::filesystem::is_regular_file(full)) return std::nullopt;
    return full.string();
}

}  // namespace mediatest
