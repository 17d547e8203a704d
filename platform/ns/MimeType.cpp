#include "platform/ns/MimeType.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/StringComponents.h"

namespace ns {
namespace {

// What a web page's own files need, fixed so that a page is served alike on every host.
const std::map<std::string_view, std::string_view>& builtInTable() {
    static const auto& table = *new std::map<std::string_view, std::string_view>{
        {"html", "text/html"},
        {"htm", "text/html"},
        {"xhtml", "application/xhtml+xml"},
        {"js", "text/javascript"},
        {"mjs", "text/javascript"},
        {"css", "text/css"},
        {"json", "application/json"},
        {"map", "application/json"},
        {"webmanifest", "application/manifest+json"},
        {"xml", "application/xml"},
        {"txt", "text/plain"},
        {"csv", "text/csv"},
        {"pdf", "application/pdf"},
        {"wasm", "application/wasm"},
        {"zip", "application/zip"},
        {"gz", "application/gzip"},
        {"png", "image/png"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"gif", "image/gif"},
        {"svg", "image/svg+xml"},
        {"webp", "image/webp"},
        {"avif", "image/avif"},
        {"bmp", "image/bmp"},
        {"tif", "image/tiff"},
        {"tiff", "image/tiff"},
        {"heic", "image/heic"},
        {"ico", "image/x-icon"},
        {"woff", "font/woff"},
        {"woff2", "font/woff2"},
        {"ttf", "font/ttf"},
        {"otf", "font/otf"},
        {"mp3", "audio/mpeg"},
        {"m4a", "audio/mp4"},
        {"aac", "audio/aac"},
        {"ac3", "audio/ac3"},
        {"aif", "audio/aiff"},
        {"aiff", "audio/aiff"},
        {"au", "audio/basic"},
        {"flac", "audio/flac"},
        {"wav", "audio/wav"},
        {"ogg", "audio/ogg"},
        {"oga", "audio/ogg"},
        {"mp4", "video/mp4"},
        {"m4v", "video/x-m4v"},
        {"mov", "video/quicktime"},
        {"webm", "video/webm"},
        {"ogv", "video/ogg"},
        {"3gp", "video/3gpp"},
    };
    return table;
}

struct SystemTable {
    dispatch::Mutex mutex;
    std::string path GUARDED_BY(mutex) = MimeType::kSystemTablePath;
    bool loaded GUARDED_BY(mutex) = false;
    std::map<std::string, std::string> types GUARDED_BY(mutex);
};

SystemTable& systemTable() {
    static auto& t = *new SystemTable();
    return t;
}

// Lines of "type ext ext ..."; "#" starts a comment. The first type named for an extension
// wins, as in the usual readers of this file.
void load(SystemTable& t) REQUIRES(t.mutex) {
    t.loaded = true;
    t.types.clear();
    std::ifstream in(t.path);
    std::string line;
    while (std::getline(in, line)) {
        if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        std::istringstream words(line);
        std::string type, ext;
        if (!(words >> type)) continue;
        while (words >> ext) t.types.emplace(asciiLowercased(ext), type);
    }
}

}  // namespace

std::optional<std::string> MimeType::forExtension(std::string_view extension) {
    if (extension.empty()) return std::nullopt;
    std::string ext = asciiLowercased(extension);
    const auto& builtIn = builtInTable();
    if (auto it = builtIn.find(ext); it != builtIn.end()) return std::string(it->second);
    auto& t = systemTable();
    dispatch::Lock lock(t.mutex);
    if (!t.loaded) load(t);
    if (auto it = t.types.find(ext); it != t.types.end()) return it->second;
    return std::nullopt;
}

std::string MimeType::forExtensionOrDefault(std::string_view extension) {
    return forExtension(extension).value_or(kDefault);
}

void MimeType::setSystemTablePath(std::string path) {
    auto& t = systemTable();
    dispatch::Lock lock(t.mutex);
    t.path = std::move(path);
    t.loaded = false;
}

}  // namespace ns
