#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "bridge/HYBPluginResult.h"
#include "platform/ns/Data.h"
#include "platform/ns/URL.h"
#include "platform/ns/Value.h"
#include "plugins/device_storage/HYBFilesystemURL.h"

// The page's file error codes (the numbering of the web's file-system API); a failure reaches
// the page as the bare number.
enum HYBFileError : int32_t {
    NOT_FOUND_ERR = 1,
    SECURITY_ERR = 2,
    ABORT_ERR = 3,
    NOT_READABLE_ERR = 4,
    ENCODING_ERR = 5,
    NO_MODIFICATION_ALLOWED_ERR = 6,
    SYNTAX_ERR = 8,
    INVALID_MODIFICATION_ERR = 9,
    QUOTA_EXCEEDED_ERR = 10,
    TYPE_MISMATCH_ERR = 11,
    PATH_EXISTS_ERR = 12,
};

// A failure as the page receives it: the code as the message of an I/O error.
inline std::shared_ptr<HYBPluginResult> fileIOError(int32_t code) {
    return HYBPluginResult::resultWithStatusMessageAsInt(HYBResultStatusIOError, code);
}

// One named file system of the file plug-in: a folder of the device (HYBLocalFilesystem) or
// the photo library (HYBAssetLibraryFilesystem). Synchronous operations return the result the
// page receives; the others answer through their callback exactly once. Operations may run
// on any thread at once; the name and transformer are set before the first of them.
class HYBFileSystem {
public:
    using ResultCallback = std::function<void(std::shared_ptr<HYBPluginResult>)>;
    // The bytes (none on failure), their MIME type, and 0 or a HYBFileError code.
    using ReadCallback =
        std::function<void(std::optional<ns::Data>, std::optional<std::string>, int32_t)>;
    using UrlTransformer = std::function<ns::URL(const ns::URL&)>;

    // A read's whole answer travels to the page in one piece, so one read answers at most this
    // many bytes; a longer range fails with NOT_READABLE_ERR.
    static constexpr uint64_t kDefaultMaxReadLength = uint64_t{128} << 20;
    static uint64_t maxReadLength() { return maxReadLength_.load(); }
    static void setMaxReadLength(uint64_t length) { maxReadLength_.store(length); }

    virtual ~HYBFileSystem() = default;

    // The entry record of an existing entry.
    virtual std::shared_ptr<HYBPluginResult> entryForLocalURI(const HYBFilesystemURL& url) = 0;
    // Looks up or creates `path` below the directory `url`; options "create", "exclusive",
    // "getDir".
    virtual std::shared_ptr<HYBPluginResult> getFileForURL(const HYBFilesystemURL& url,
                                                           const ns::Value& path,
                                                           const ns::Value& options) = 0;
    virtual std::shared_ptr<HYBPluginResult> getParentForURL(const HYBFilesystemURL& url) = 0;
    virtual std::shared_ptr<HYBPluginResult> setMetadataForURL(const HYBFilesystemURL& url,
                                                               const ns::Value& metadata) = 0;
    // A file or an empty directory.
    virtual std::shared_ptr<HYBPluginResult> removeFileAtURL(const HYBFilesystemURL& url) = 0;
    virtual std::shared_ptr<HYBPluginResult> recursiveRemoveFileAtURL(
        const HYBFilesystemURL& url) = 0;
    virtual std::shared_ptr<HYBPluginResult> readEntriesAtURL(const HYBFilesystemURL& url) = 0;
    // Answers the new length.
    virtual std::shared_ptr<HYBPluginResult> truncateFileAtURL(const HYBFilesystemURL& url,
                                                               uint64_t length) = 0;
    // Answers the number of bytes written.
    virtual std::shared_ptr<HYBPluginResult> writeToFileAtURL(const HYBFilesystemURL& url,
                                                              const ns::Data& data,
                                                              bool append) = 0;
    // Copies (or moves) the entry `srcURL` of `srcFs` into the directory `destURL` of this
    // file system under `newName`.
    virtual void copyFileToURL(const HYBFilesystemURL& destURL, const std::string& newName,
                               const std::shared_ptr<HYBFileSystem>& srcFs,
                               const HYBFilesystemURL& srcURL, bool copy,
                               ResultCallback callback) = 0;
    // Bytes from `start` to `end` (exclusive; -1: to the end of the entry).
    virtual void readFileAtURL(const HYBFilesystemURL& url, int64_t start, int64_t end,
                               ReadCallback callback) = 0;
    // A range opened once and read run after run, for a long read that reaches the page in
    // pieces. Every run comes from the entry as it was opened, as the bytes of one read do:
    // another file put at its path, or none, meanwhile changes nothing of the answer.
    class RangeReader {
    public:
        virtual ~RangeReader() = default;
        // How many bytes readFileAtURL would answer for the range.
        virtual uint64_t length() const = 0;
        // The MIME type readFileAtURL would answer.
        virtual const std::string& mimeType() const = 0;
        // The range's next `count` bytes, fewer where the entry now ends; nothing when they
        // cannot be read (the page's NOT_FOUND_ERR, as for readFileAtURL).
        virtual std::optional<ns::Data> readRun(uint64_t count) = 0;
    };
    // The range from `start` to `end` (as for readFileAtURL) opened for reading in runs, where
    // the file system can; nothing when it cannot, or the read would fail.
    virtual std::unique_ptr<RangeReader> openRangeAtURL(const HYBFilesystemURL&, int64_t, int64_t) {
        return nullptr;
    }
    virtual void getFileMetadataForURL(const HYBFilesystemURL& url, ResultCallback callback) = 0;
    // The entry record of an existing entry, or nothing.
    virtual std::optional<ns::Dictionary> makeEntryForLocalURL(const HYBFilesystemURL& url) = 0;
    // The entry record of a full path, whether or not the entry exists.
    virtual ns::Dictionary makeEntryForPath(const std::string& fullPath, bool isDirectory) = 0;

    // Unique in the plug-in's registry.
    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }
    // Applied to every "nativeURL" the file system builds; set by the registry.
    const UrlTransformer& urlTransformer() const { return urlTransformer_; }
    void setUrlTransformer(UrlTransformer transformer) { urlTransformer_ = std::move(transformer); }

    // The entry's path in the file system's own terms (a local path for folders); nothing
    // when the URL names nothing there.
    virtual std::optional<std::string> filesystemPathForURL(const HYBFilesystemURL& url) = 0;
    // Optional: the URL of a local path that lies in this file system.
    virtual bool answersURLforFilesystemPath() const { return false; }
    virtual std::optional<HYBFilesystemURL> URLforFilesystemPath(const std::string&) {
        return std::nullopt;
    }

protected:
    explicit HYBFileSystem(std::string name) : name_(std::move(name)) {}

private:
    inline static std::atomic<uint64_t> maxReadLength_{kDefaultMaxReadLength};
    std::string name_;
    UrlTransformer urlTransformer_;
};
