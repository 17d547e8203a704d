#pragma once

#include <memory>
#include <optional>
#include <string>

#include "plugins/device_storage/HYBFileSystem.h"

// The photo library as a read-only file system: an entry is one photo, addressed as
// hybfile://localhost/assets-library/asset/... or by its own "assets-library" URL. Photos can
// be resolved, read and described, and copied into a local file system; everything that would
// change the library or treat it as a folder tree is refused.
class HYBAssetLibraryFilesystem : public HYBFileSystem {
public:
    explicit HYBAssetLibraryFilesystem(std::string name);

    // The photo library's own URL of a "hybfile" URL; other URLs as they are.
    static std::optional<ns::URL> assetLibraryURLForLocalURL(const HYBFilesystemURL& url);
    static std::optional<std::string> getMimeTypeFromPath(const std::optional<std::string>& path);

    std::shared_ptr<HYBPluginResult> entryForLocalURI(const HYBFilesystemURL& url) override;
    std::shared_ptr<HYBPluginResult> getFileForURL(const HYBFilesystemURL& url,
                                                   const ns::Value& path,
                                                   const ns::Value& options) override;
    std::shared_ptr<HYBPluginResult> getParentForURL(const HYBFilesystemURL& url) override;
    std::shared_ptr<HYBPluginResult> setMetadataForURL(const HYBFilesystemURL& url,
                                                       const ns::Value& metadata) override;
    std::shared_ptr<HYBPluginResult> removeFileAtURL(const HYBFilesystemURL& url) override;
    std::shared_ptr<HYBPluginResult> recursiveRemoveFileAtURL(const HYBFilesystemURL& url) override;
    std::shared_ptr<HYBPluginResult> readEntriesAtURL(const HYBFilesystemURL& url) override;
    std::shared_ptr<HYBPluginResult> truncateFileAtURL(const HYBFilesystemURL& url,
                                                       uint64_t length) override;
    std::shared_ptr<HYBPluginResult> writeToFileAtURL(const HYBFilesystemURL& url,
                                                      const ns::Data& data, bool append) override;
    void copyFileToURL(const HYBFilesystemURL& destURL, const std::string& newName,
                       const std::shared_ptr<HYBFileSystem>& srcFs, const HYBFilesystemURL& srcURL,
                       bool copy, ResultCallback callback) override;
    void readFileAtURL(const HYBFilesystemURL& url, int64_t start, int64_t end,
                       ReadCallback callback) override;
    void getFileMetadataForURL(const HYBFilesystemURL& url, ResultCallback callback) override;
    std::optional<ns::Dictionary> makeEntryForLocalURL(const HYBFilesystemURL& url) override;
    ns::Dictionary makeEntryForPath(const std::string& fullPath, bool isDirectory) override;
    std::optional<std::string> filesystemPathForURL(const HYBFilesystemURL& url) override;
};
