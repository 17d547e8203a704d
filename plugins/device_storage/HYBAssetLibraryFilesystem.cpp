#include "plugins/device_storage/HYBAssetLibraryFilesystem.h"

#include <algorithm>

#include "platform/av/PhotoLibrary.h"
#include "platform/ns/Log.h"
#include "plugins/device_storage/HYBLocalFilesystem.h"

namespace {

// Length of "hybfile://localhost/assets-library": what follows is the asset's path.
constexpr size_t kHybfileAssetsPrefixLength = 34;

std::shared_ptr<HYBPluginResult> malformed(const char* text) {
    return HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusMalformedUrl, text);
}

// The last "/"-separated component, a query included.
std::string lastComponent(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path == "/" || path.empty()) return path;
    return path.substr(path.find_last_of('/') + 1);
}

std::string withoutTrailingSlash(std::string path) {
    if (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

HYBAssetLibraryFilesystem::HYBAssetLibraryFilesystem(std::string name)
    : HYBFileSystem(std::move(name)) {}

std::optional<ns::URL> HYBAssetLibraryFilesystem::assetLibraryURLForLocalURL(
    const HYBFilesystemURL& url) {
    if (!url.url()) return std::nullopt;
    if (url.url()->scheme() != std::optional<std::string>(kHYBFilesystemURLPrefix))
        return url.url();
    const std::string& text = url.url()->absoluteString();
    if (text.size() < kHybfileAssetsPrefixLength) return std::nullopt;
    return ns::URL::parse(std::string(kHYBAssetsLibraryPrefix) + ":/" +
                          text.substr(kHybfileAssetsPrefixLength));
}

std::optional<std::string> HYBAssetLibraryFilesystem::getMimeTypeFromPath(
    const std::optional<std::string>& path) {
    return HYBLocalFilesystem::getMimeTypeFromPath(path);
}

ns::Dictionary HYBAssetLibraryFilesystem::makeEntryForPath(const std::string& fullPath,
                                                           bool isDirectory) {
    std::string path = fullPath;
    if (isDirectory && (path.empty() || path.back() != '/')) path += '/';
    const std::string text = std::string(kHYBAssetsLibraryPrefix) + ":/" + fullPath;
    std::string nativeURL = text;
    if (auto url = ns::URL::parse(text)) {
        nativeURL = (urlTransformer() ? urlTransformer()(*url) : *url).absoluteString();
    }
    return {
        {"isFile", !isDirectory}, {"isDirectory", isDirectory}, {"name", lastComponent(fullPath)},
        {"fullPath", path},       {"filesystemName", name()},   {"nativeURL", nativeURL},
    };
}

std::optional<ns::Dictionary> HYBAssetLibraryFilesystem::makeEntryForLocalURL(
    const HYBFilesystemURL& url) {
    return makeEntryForPath(url.fullPath().value_or(""), false);
}

std::shared_ptr<HYBPluginResult> HYBAssetLibraryFilesystem::entryForLocalURI(
    const HYBFilesystemURL& url) {
    return HYBPluginResult::resultWithStatusMessageAsDictionary(HYBResultStatusOK,
                                                                *makeEntryForLocalURL(url));
}

std::optional<std::string> HYBAssetLibraryFilesystem::filesystemPathForURL(
    const HYBFilesystemURL& url) {
    if (url.url() && url.url()->scheme() == std::optional<std::string>(kHYBAssetsLibraryPrefix)) {
        return withoutTrailingSlash(url.url()->path());
    }
    if (!url.fullPath()) return std::nullopt;
    return withoutTrailingSlash(*url.fullPath());
}

// --- Refused -----------------------------------------------------------------------------------

std::shared_ptr<HYBPluginResult> HYBAssetLibraryFilesystem::getFileForURL(const HYBFilesystemURL&,
                                                                          const ns::Value&,
                                                                          const ns::Value&) {
    return malformed("getFile not supported for assets-library URLs.");
}

std::shared_ptr<HYBPluginResult> HYBAssetLibraryFilesystem::getParentForURL(
    const HYBFilesystemURL&) {
    return fileIOError(NOT_READABLE_ERR);
}

std::shared_ptr<HYBPluginResult> HYBAssetLibraryFilesystem::setMetadataForURL(
    const HYBFilesystemURL&, const ns::Value&) {
    return HYBPluginResult::resultWithStatus(HYBResultStatusError);
}

std::shared_ptr<HYBPluginResult> HYBAssetLibraryFilesystem::removeFileAtURL(
    const HYBFilesystemURL&) {
    return fileIOError(INVALID_MODIFICATION_ERR);
}

std::shared_ptr<HYBPluginResult> HYBAssetLibraryFilesystem::recursiveRemoveFileAtURL(
    const HYBFilesystemURL&) {
    return malformed("removeRecursively not supported for assets-library URLs.");
}

std::shared_ptr<HYBPluginResult> HYBAssetLibraryFilesystem::readEntriesAtURL(
    const HYBFilesystemURL&) {
    return malformed("readEntries not supported for assets-library URLs.");
}

std::shared_ptr<HYBPluginResult> HYBAssetLibraryFilesystem::truncateFileAtURL(
    const HYBFilesystemURL&, uint64_t) {
    return fileIOError(NO_MODIFICATION_ALLOWED_ERR);
}

std::shared_ptr<HYBPluginResult> HYBAssetLibraryFilesystem::writeToFileAtURL(
    const HYBFilesystemURL&, const ns::Data&, bool) {
    return fileIOError(NO_MODIFICATION_ALLOWED_ERR);
}

void HYBAssetLibraryFilesystem::copyFileToURL(const HYBFilesystemURL&, const std::string&,
                                              const std::shared_ptr<HYBFileSystem>&,
                                              const HYBFilesystemURL&, bool,
                                              ResultCallback callback) {
    callback(fileIOError(INVALID_MODIFICATION_ERR));
}

// --- Reading -----------------------------------------------------------------------------------

void HYBAssetLibraryFilesystem::readFileAtURL(const HYBFilesystemURL& url, int64_t start,
                                              int64_t end, ReadCallback callback) {
    auto assetURL = assetLibraryURLForLocalURL(url);
    if (!assetURL) return callback(std::nullopt, std::nullopt, NOT_FOUND_ERR);
    av::PhotoLibrary::shared().assetForURL(
        *assetURL,
        [start, end, callback](std::shared_ptr<av::PhotoAsset> asset) {
            if (!asset) return callback(std::nullopt, std::nullopt, NOT_FOUND_ERR);
            // The range is clamped to the photo: a start before it reads from its first byte,
            // one past it reads nothing.
            const uint64_t size = asset->size();
            const uint64_t from = std::min(start > 0 ? static_cast<uint64_t>(start) : 0, size);
            uint64_t count = size - from;
            if (end > start) {
                const uint64_t stop = end > 0 ? std::min(static_cast<uint64_t>(end), size) : 0;
                count = stop > from ? stop - from : 0;
            }
            if (count > maxReadLength()) {
                return callback(std::nullopt, std::nullopt, NOT_READABLE_ERR);
            }
            auto bytes = asset->getBytes(from, count);
            if (!bytes) return callback(std::nullopt, std::nullopt, NOT_FOUND_ERR);
            callback(std::move(*bytes), asset->mimeType(), 0);
        },
        [callback](const ns::Error& error) {
            ns::nslog("Error: %@", error);
            callback(std::nullopt, std::nullopt, SECURITY_ERR);
        });
}

void HYBAssetLibraryFilesystem::getFileMetadataForURL(const HYBFilesystemURL& url,
                                                      ResultCallback callback) {
    auto assetURL = assetLibraryURLForLocalURL(url);
    if (!assetURL) return callback(fileIOError(NOT_FOUND_ERR));
    const std::string fullPath = url.fullPath().value_or("");
    av::PhotoLibrary::shared().assetForURL(
        *assetURL,
        [fullPath, callback](std::shared_ptr<av::PhotoAsset> asset) {
            if (!asset) return callback(fileIOError(NOT_FOUND_ERR));
            ns::Dictionary metadata{
                {"size", asset->size()},
                {"fullPath", fullPath},
                {"name", asset->fileName()},
                {"type", getMimeTypeFromPath(asset->fileName()).value_or(asset->mimeType())},
                {"lastModifiedDate", asset->date().timeIntervalSince1970() * 1000.0},
            };
            callback(HYBPluginResult::resultWithStatusMessageAsDictionary(HYBResultStatusOK,
                                                                          std::move(metadata)));
        },
        [callback](const ns::Error& error) {
            callback(HYBPluginResult::resultWithStatusMessageAsString(
                HYBResultStatusIOError, error.localizedDescription()));
        });
}
