#include "plugins/device_storage/HYBFilesystemURL.h"

#include "platform/ns/Format.h"
#include "platform/ns/Value.h"

namespace {

bool isHybfileURL(const ns::URL& url) {
    return url.scheme() == std::optional<std::string>(kHYBFilesystemURLPrefix) &&
           url.host() == std::optional<std::string>(kHYBFilesystemURLHost);
}

bool isAssetsLibraryURL(const ns::URL& url) {
    return url.scheme() == std::optional<std::string>(kHYBAssetsLibraryPrefix);
}

// Length of "assets-library:/": what comes after it is the asset's full path.
constexpr size_t kAssetsLibraryPathStart = 16;

ns::Value orNull(const std::optional<std::string>& text) {
    return text ? ns::Value(*text) : ns::Value();
}

}  // namespace

HYBFilesystemURL::HYBFilesystemURL(std::string_view text)
    : HYBFilesystemURL(ns::URL::parse(text)) {}

HYBFilesystemURL::HYBFilesystemURL(const ns::URL& url)
    : HYBFilesystemURL(std::optional<ns::URL>(url)) {}

HYBFilesystemURL::HYBFilesystemURL(std::optional<ns::URL> url) : url_(std::move(url)) {
    if (!url_) return;
    fileSystemName_ = filesystemNameForLocalURI(*url_);
    fullPath_ = fullPathForLocalURI(*url_);
}

std::shared_ptr<HYBFilesystemURL> HYBFilesystemURL::fileSystemURLWithString(std::string_view text) {
    return std::make_shared<HYBFilesystemURL>(text);
}

std::shared_ptr<HYBFilesystemURL> HYBFilesystemURL::fileSystemURLWithURL(const ns::URL& url) {
    return std::make_shared<HYBFilesystemURL>(url);
}

std::string HYBFilesystemURL::absoluteURL() const {
    return ns::format("hybfile://localhost/%@%@", orNull(fileSystemName_), orNull(fullPath_));
}

std::optional<std::string> HYBFilesystemURL::filesystemNameForLocalURI(const ns::URL& url) {
    if (isHybfileURL(url)) {
        auto components = url.pathComponents();
        if (components.size() < 2) return std::nullopt;
        return components[1];
    }
    if (isAssetsLibraryURL(url)) return std::string(kHYBAssetsLibraryPrefix);
    return std::nullopt;
}

std::optional<std::string> HYBFilesystemURL::fullPathForLocalURI(const ns::URL& url) {
    if (isHybfileURL(url)) {
        std::string path = url.path();
        if (url.query()) path += "?" + *url.query();
        if (path.size() < 2) return std::string();
        auto slash = path.find('/', 1);
        if (slash == std::string::npos) return std::string();
        return path.substr(slash);
    }
    if (isAssetsLibraryURL(url)) {
        const std::string& text = url.absoluteString();
        if (text.size() <= kAssetsLibraryPathStart) return std::string();
        return text.substr(kAssetsLibraryPathStart);
    }
    return std::nullopt;
}
