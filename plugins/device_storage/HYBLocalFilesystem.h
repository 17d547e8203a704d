#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "plugins/device_storage/HYBFileSystem.h"

// A named file system over one folder of the device, its root. Full paths ("/a/b.txt", "" for
// the root) map to local paths below the root and back; a full path that climbs above the
// root maps to nothing, so no operation reaches outside it. Changes are refused outside the
// application's container (the bundle, the rest of the device), and changes to one path are
// serialised (HYBFileLocks).
class HYBLocalFilesystem : public HYBFileSystem,
                           public std::enable_shared_from_this<HYBLocalFilesystem> {
public:
    // The key of setMetadata's backup flag.
    static constexpr const char* kMobileBackupKey = "com.apple.MobileBackup";

    HYBLocalFilesystem(std::string name, std::string root);
    ~HYBLocalFilesystem() override;
    HYBLocalFilesystem(const HYBLocalFilesystem&) = delete;
    HYBLocalFilesystem& operator=(const HYBLocalFilesystem&) = delete;

    const std::string& fsRoot() const { return fsRoot_; }

    // --- Path mapping ------------------------------------------------------------------------
    // The local path of a full path (a query is dropped; "." and ".." resolved); nothing when
    // it would leave the root.
    std::optional<std::string> filesystemPathForFullPath(std::string_view fullPath) const;
    std::optional<std::string> filesystemPathForURL(const HYBFilesystemURL& url) override;
    // The full path of a local path below the root (compared on whole components); under the
    // root "/" it has no leading "/". Nothing for a path outside.
    std::optional<std::string> fullPathForFileSystemPath(const std::string& localPath) const;
    // "hybfile://localhost/<name>/<full path, escaped>".
    std::optional<HYBFilesystemURL> URLforFullPath(
        const std::optional<std::string>& fullPath) const;
    bool answersURLforFilesystemPath() const override { return true; }
    std::optional<HYBFilesystemURL> URLforFilesystemPath(const std::string& localPath) override;

    // Resolves ".." against the components before it (one at the top is dropped), drops "."
    // and empty components, and keeps a leading "/": "/a/b/../../c" gives "/c", "../../x"
    // gives "x".
    static std::string normalizePath(std::string_view path);
    // "/a/b" for a path below the root, "" for the root itself; nothing when ".." climbs above
    // the root or the path holds a NUL.
    static std::optional<std::string> confinedFullPath(std::string_view path);
    // A name that copy and move may give an entry: not empty, not "." or "..", without "/",
    // ":" or NUL.
    static bool isValidEntryName(std::string_view name);
    // From the extension: the type table, then "audio/wav" for an extension containing "wav"
    // and "text/css" for one containing "css"; nothing otherwise.
    static std::optional<std::string> getMimeTypeFromPath(const std::optional<std::string>& path);

    // --- HYBFileSystem -----------------------------------------------------------------------
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
    std::unique_ptr<RangeReader> openRangeAtURL(const HYBFilesystemURL& url, int64_t start,
                                                int64_t end) override;
    void getFileMetadataForURL(const HYBFilesystemURL& url, ResultCallback callback) override;
    std::optional<ns::Dictionary> makeEntryForLocalURL(const HYBFilesystemURL& url) override;
    ns::Dictionary makeEntryForPath(const std::string& fullPath, bool isDirectory) override;

private:
    // The URL's full path, normalised, with its query kept; nothing when it leaves the root.
    std::optional<std::string> entryFullPath(const HYBFilesystemURL& url) const;
    // The local path of a full path when the application may reach it (Sandbox::isReachable).
    std::optional<std::string> reachablePathForFullPath(std::string_view fullPath) const;
    bool mayRemove(const std::string& localPath) const;
    std::shared_ptr<HYBPluginResult> replaceContents(const std::string& localPath,
                                                     const ns::Data& data);
    std::shared_ptr<HYBPluginResult> removeItem(const std::string& localPath);
    void copyFromForeignFileSystem(const std::shared_ptr<HYBFileSystem>& srcFs,
                                   const HYBFilesystemURL& srcURL, std::string newPath,
                                   std::string newFullPath, ResultCallback callback);
    std::shared_ptr<HYBPluginResult> copyOrMoveLocal(const std::string& srcPath,
                                                     const std::string& newPath,
                                                     const std::string& newFullPath, bool copy);

    std::string fsRoot_;
    std::string canonicalRoot_;  // fsRoot_ with symbolic links resolved, to match resolved paths
};
