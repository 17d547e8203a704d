#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/URL.h"

// The scheme of the page's file-system URLs, its only host, and the photo library's scheme.
inline constexpr const char* kHYBFilesystemURLPrefix = "hybfile";
inline constexpr const char* kHYBFilesystemURLHost = "localhost";
inline constexpr const char* kHYBAssetsLibraryPrefix = "assets-library";

// A parsed file-system URL: "hybfile://localhost/<file system><full path>", or a photo
// library URL "assets-library://asset/...". Immutable after creation, so it can be handed
// between threads.
class HYBFilesystemURL {
public:
    // Parses the text as a URL; an invalid text gives an instance without URL, name or path.
    explicit HYBFilesystemURL(std::string_view text);
    explicit HYBFilesystemURL(const ns::URL& url);
    explicit HYBFilesystemURL(std::optional<ns::URL> url);

    static std::shared_ptr<HYBFilesystemURL> fileSystemURLWithString(std::string_view text);
    static std::shared_ptr<HYBFilesystemURL> fileSystemURLWithURL(const ns::URL& url);

    const std::optional<ns::URL>& url() const { return url_; }
    // The file system's name: the first path component of a "hybfile" URL, or
    // "assets-library" for the photo library's own URLs.
    const std::optional<std::string>& fileSystemName() const { return fileSystemName_; }
    // "/..." below the root, "" for the root itself; a "hybfile" URL's query stays on it.
    const std::optional<std::string>& fullPath() const { return fullPath_; }

    // "hybfile://localhost/<name><full path>", nothing escaped.
    std::string absoluteURL() const;

    static std::optional<std::string> filesystemNameForLocalURI(const ns::URL& url);
    static std::optional<std::string> fullPathForLocalURI(const ns::URL& url);

private:
    std::optional<ns::URL> url_;
    std::optional<std::string> fileSystemName_;
    std::optional<std::string> fullPath_;
};
