#include "platform/av/PhotoAsset.h"

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "platform/ns/AtomicFile.h"
#include "platform/ns/FileHandle.h"
#include "platform/ns/MimeType.h"

namespace av {
namespace {

std::string extensionOf(const std::string& name) {
    auto dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return {};
    return name.substr(dot + 1);
}

}  // namespace

PhotoAsset::PhotoAsset(std::string identifier, std::string path, std::string album, ns::Date date,
                       uint64_t size)
    : identifier_(std::move(identifier)),
      path_(std::move(path)),
      album_(std::move(album)),
      date_(date),
      size_(size) {
    auto slash = path_.find_last_of('/');
    fileName_ = slash == std::string::npos ? path_ : path_.substr(slash + 1);
}

ns::URL PhotoAsset::assetURL() const {
    std::string ext = extensionOf(fileName_);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    // Extensions are letters and digits in practice; anything else would not make a URL.
    bool plain =
        std::all_of(ext.begin(), ext.end(), [](unsigned char c) { return std::isalnum(c) != 0; });
    if (!plain) ext.clear();
    auto url = ns::URL::parse("assets-library://asset/asset." + ext + "?id=" + identifier_ +
                              "&ext=" + ext);
    return *url;
}

std::string PhotoAsset::mimeType() const {
    return ns::MimeType::forExtensionOrDefault(extensionOf(fileName_));
}

ns::Result<ns::Data> PhotoAsset::getBytes(uint64_t offset, uint64_t length) const {
    auto handle = ns::FileHandle::fileHandleForReadingAtPath(path_);
    if (!handle) return handle.error();
    auto attributes = (*handle)->attributes();
    if (!attributes) return attributes.error();
    if (attributes->type != ns::FileType::Regular) return ns::posixError(EINVAL, path_);
    if (offset >= attributes->size) return ns::Data();
    if (auto status = (*handle)->seekToFileOffset(offset); !status) return status.error();
    return (*handle)->readDataOfLength(std::min(length, attributes->size - offset));
}

}  // namespace av
