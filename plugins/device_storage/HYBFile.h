#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/HYBPlugin.h"
#include "plugins/device_storage/HYBFileSystem.h"
#include "plugins/device_storage/HYBFilesystemURL.h"

// The page's file service ("File" in config.xml). Owns the registry of named file systems:
// 0 "temporary", 1 "persistent", 2 "assets-library", then the extra ones of the preference
// "iosextrafilesystems"; the page's file-system type is an index into it. Turns the URLs and
// paths that the page and other plug-ins hand it into entries, and carries out the page's
// file actions, the slow ones (copies, moves, reads, writes) on the background queue.
class HYBFile : public HYBPlugin {
public:
    static constexpr const char* kClassName = "HYBFile";
    static constexpr const char* kPersistentLocationKey = "iospersistentfilelocation";
    static constexpr const char* kExtraFilesystemsKey = "iosextrafilesystems";
    static constexpr const char* kDefaultExtraFilesystems =
        "library,library-nosync,documents,documents-nosync,cache,bundle,root";

    HYBFile();

    void pluginInitialize() override;

    // The instance that initialised last; the "hybfile" URL protocol reads through it.
    static std::shared_ptr<HYBFile> sharedInstance();

    // --- Registry ------------------------------------------------------------------------------
    const std::vector<std::shared_ptr<HYBFileSystem>>& fileSystems() const { return fileSystems_; }
    void registerFilesystem(const std::shared_ptr<HYBFileSystem>& fileSystem);
    std::shared_ptr<HYBFileSystem> fileSystemByName(std::string_view name) const;
    std::shared_ptr<HYBFileSystem> filesystemForURL(const HYBFilesystemURL& url) const;

    const std::string& rootDocsPath() const { return rootDocsPath_; }
    const std::string& appLibraryPath() const { return appLibraryPath_; }
    const std::string& appTempPath() const { return appTempPath_; }

    // --- Path services (also for the capture and thumbnail plug-ins) ------------------------
    std::optional<std::string> getMimeTypeFromPath(const std::string& path) const;
    // The URL of a local path in the file system that gives it the shortest full path.
    std::optional<HYBFilesystemURL> fileSystemURLforLocalPath(const std::string& localPath) const;
    std::optional<std::string> filesystemPathForURL(const HYBFilesystemURL& url) const;
    // A "file://" URL of a local path (links resolved), or any other URL text.
    std::optional<HYBFilesystemURL> fileSystemURLforArg(const std::string& arg) const;
    std::optional<ns::Dictionary> makeEntryForPath(const std::string& fullPath,
                                                   const std::string& fileSystemName,
                                                   bool isDirectory) const;
    std::optional<ns::Dictionary> makeEntryForLocalURL(const HYBFilesystemURL& url) const;
    std::optional<ns::Dictionary> makeEntryForURL(const ns::URL& url) const;
    std::optional<ns::Dictionary> getDirectoryEntry(const std::string& localPath,
                                                    bool isDirectory) const;
    // Free bytes of the volume that holds the path.
    static std::optional<uint64_t> checkFreeDiskSpace(const std::string& path);
    // Escapes what cannot stand in a URL, after resolving escapes, so that escaped and
    // unescaped spellings of one path give one URL text; nothing when the escapes do not
    // decode.
    static std::optional<std::string> encodePath(std::string_view path);

    // --- Page actions --------------------------------------------------------------------------
    void requestFileSystem(const HYBInvokedUrlCommand& command);
    void requestAllFileSystems(const HYBInvokedUrlCommand& command);
    void requestAllPaths(const HYBInvokedUrlCommand& command);
    void resolveLocalFileSystemURI(const HYBInvokedUrlCommand& command);
    void _getLocalFilesystemPath(const HYBInvokedUrlCommand& command);
    void getFile(const HYBInvokedUrlCommand& command);
    void getDirectory(const HYBInvokedUrlCommand& command);
    void getParent(const HYBInvokedUrlCommand& command);
    void setMetadata(const HYBInvokedUrlCommand& command);
    void remove(const HYBInvokedUrlCommand& command);
    void removeRecursively(const HYBInvokedUrlCommand& command);
    void copyTo(const HYBInvokedUrlCommand& command);
    void moveTo(const HYBInvokedUrlCommand& command);
    void getFileMetadata(const HYBInvokedUrlCommand& command);
    void readEntries(const HYBInvokedUrlCommand& command);
    void readAsText(const HYBInvokedUrlCommand& command);
    void readAsDataURL(const HYBInvokedUrlCommand& command);
    void readAsArrayBuffer(const HYBInvokedUrlCommand& command);
    void readAsBinaryString(const HYBInvokedUrlCommand& command);
    void write(const HYBInvokedUrlCommand& command);
    void truncate(const HYBInvokedUrlCommand& command);
    void testFileExists(const HYBInvokedUrlCommand& command);
    void testDirectoryExists(const HYBInvokedUrlCommand& command);
    void getFreeDiskSpace(const HYBInvokedUrlCommand& command);

private:
    enum class ReadKind { Text, DataURL, ArrayBuffer, BinaryString };

    void registerLocalFilesystem(const std::string& name, const std::string& root);
    void registerExtraFileSystems(const ns::Dictionary& settings);
    void send(const std::shared_ptr<HYBPluginResult>& result, const HYBInvokedUrlCommand& command);
    // The URL of argument `index` and its file system; null when it names none.
    std::shared_ptr<HYBFileSystem> argumentFileSystem(const HYBInvokedUrlCommand& command,
                                                      size_t index,
                                                      std::optional<HYBFilesystemURL>& url) const;
    void copyOrMove(const HYBInvokedUrlCommand& command, bool copy);
    void read(const HYBInvokedUrlCommand& command, ReadKind kind);
    // The answer of a read whose bytes came whole.
    static std::shared_ptr<HYBPluginResult> readResult(ReadKind kind, const ns::Data& data,
                                                       const std::optional<std::string>& mimeType);
    // "data:<MIME type>;base64," before the Base64 text of a read.
    static std::string dataURLHead(const std::optional<std::string>& mimeType);
    // Reads the range in runs, each handed to `page` (the page that asked, as the delegate
    // numbered it) as a piece of the answer once it has room for it, the last as the answer
    // itself. Background queue.
    static void readInRuns(const std::weak_ptr<HYBFile>& weak, HYBCommandDelegate& delegate,
                           HYBFileSystem::RangeReader& range, ReadKind kind,
                           const std::string& callbackId, uint64_t page);
    // Sends the result from background work unless the plug-in has gone meanwhile.
    static void sendFromBackground(const std::weak_ptr<HYBFile>& plugin,
                                   const std::shared_ptr<HYBPluginResult>& result,
                                   const std::optional<std::string>& callbackId);

    std::vector<std::shared_ptr<HYBFileSystem>> fileSystems_;
    std::string rootDocsPath_;
    std::string appLibraryPath_;
    std::string appTempPath_;
};
