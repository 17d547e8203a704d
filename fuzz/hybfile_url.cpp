#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "plugins/device_storage/HYBAssetLibraryFilesystem.h"
#include "plugins/device_storage/HYBFilesystemURL.h"
#include "plugins/device_storage/HYBLocalFilesystem.h"

// Input: a file-system URL (whole, or the text after "hybfile://localhost/persistent"), also
// taken as a path that getFile resolves below a folder. Invariant: every local path that comes
// out lies in its file system's root, spelt without "." or ".." segments.
namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

void requireConfined(const std::optional<std::string>& path, const std::string& root) {
    if (!path) return;
    require(path->find('\0') == std::string::npos);
    if (root == "/") {
        require(!path->empty() && path->front() == '/');
    } else {
        require(*path == root || path->starts_with(root + "/"));
    }
    require(path->find("//") == std::string::npos);
    require(path->find("/../") == std::string::npos && !path->ends_with("/.."));
    require(path->find("/./") == std::string::npos && !path->ends_with("/."));
}

HYBLocalFilesystem& documents() {
    static auto* fs = new HYBLocalFilesystem("persistent", "/sandbox/Container/Documents");
    return *fs;
}

HYBLocalFilesystem& root() {
    static auto* fs = new HYBLocalFilesystem("root", "/");
    return *fs;
}

void check(const HYBFilesystemURL& url) {
    (void)url.absoluteURL();
    for (HYBLocalFilesystem* fs : {&documents(), &root()}) {
        auto local = fs->filesystemPathForURL(url);
        requireConfined(local, fs->fsRoot());
        if (!local) continue;
        // Back to a full path and a URL, and that URL maps inside the root again.
        auto fullPath = fs->fullPathForFileSystemPath(*local);
        require(fullPath.has_value());
        if (auto again = fs->URLforFullPath(fullPath)) {
            requireConfined(fs->filesystemPathForURL(*again), fs->fsRoot());
        }
        (void)fs->makeEntryForPath(*fullPath, false);
    }
    HYBAssetLibraryFilesystem assets("assets-library");
    (void)HYBAssetLibraryFilesystem::assetLibraryURLForLocalURL(url);
    (void)assets.filesystemPathForURL(url);
    if (url.fullPath()) (void)assets.makeEntryForPath(*url.fullPath(), false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    check(HYBFilesystemURL(text));
    check(HYBFilesystemURL("hybfile://localhost/persistent" + text));
    check(HYBFilesystemURL("assets-library:/" + text));
    // A requested path of getFile, joined below a folder and resolved.
    const std::string joined = HYBLocalFilesystem::normalizePath("/dir/" + text);
    requireConfined(documents().filesystemPathForFullPath(joined), documents().fsRoot());
    (void)HYBLocalFilesystem::confinedFullPath(text);
    (void)HYBLocalFilesystem::getMimeTypeFromPath(text);
    return 0;
}
