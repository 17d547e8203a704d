#include "platform/av/PhotoLibrary.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <string_view>

#include "platform/dispatch/Queue.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/URLComponents.h"
#include "platform/ns/UUID.h"
#include "platform/sec/Digest.h"

namespace av {
namespace {

bool isPlainName(const std::string& name) {
    return !name.empty() && name.front() != '.' && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string folderOf(const std::string& album) {
    return album.empty() ? PhotoLibrary::libraryPath() : PhotoLibrary::libraryPath() + "/" + album;
}

std::optional<std::string> idOfURL(const ns::URL& url) {
    if (!url.scheme() || *url.scheme() != "assets-library") return std::nullopt;
    auto components = ns::URLComponents::componentsWithString(url.absoluteString());
    if (!components) return std::nullopt;
    auto items = components->queryItems();
    if (!items) return std::nullopt;
    for (const auto& item : *items) {
        if (item.name == "id" && item.value) return *item.value;
    }
    return std::nullopt;
}

// `name` with " N" before its extension.
std::string numberedName(const std::string& name, int n) {
    auto dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return name + " " + std::to_string(n);
    return name.substr(0, dot) + " " + std::to_string(n) + name.substr(dot);
}

ns::Error invalidName(const std::string& name) {
    return ns::posixError(EINVAL, name);
}

}  // namespace

PhotoLibrary& PhotoLibrary::shared() {
    static auto* library = new PhotoLibrary;
    return *library;
}

std::string PhotoLibrary::libraryPath() {
    return ns::Sandbox::libraryDirectory() + "/" + kPhotoLibraryFolderName;
}

std::string PhotoLibrary::identifierFor(const std::string& album, const std::string& fileName) {
    ns::Data digest = sec::sha256(album + "/" + fileName);
    ns::UUID::Bytes bytes{};
    std::copy_n(digest.bytes(), bytes.size(), bytes.begin());
    return ns::UUID(bytes).UUIDString();
}

std::optional<ns::Error> PhotoLibrary::accessError() const {
    switch (status_.load()) {
        case PhotoAuthorizationStatus::Denied:
            return ns::Error(kAssetsLibraryErrorDomain, kAssetsLibraryAccessUserDeniedError,
                             {{ns::kLocalizedDescriptionKey, "User denied access"}});
        case PhotoAuthorizationStatus::Restricted:
            return ns::Error(kAssetsLibraryErrorDomain, kAssetsLibraryAccessGloballyDeniedError,
                             {{ns::kLocalizedDescriptionKey, "Global denied access"}});
        default:
            return std::nullopt;
    }
}

std::shared_ptr<PhotoAsset> PhotoLibrary::makeAsset(const std::string& album,
                                                    const std::string& fileName) const {
    std::string path = folderOf(album) + "/" + fileName;
    auto attributes = ns::FileManager::defaultManager().attributesOfItem(path);
    if (!attributes || attributes->type != ns::FileType::Regular) return nullptr;
    return std::make_shared<PhotoAsset>(identifierFor(album, fileName), path, album,
                                        attributes->modificationDate, attributes->size);
}

void PhotoLibrary::assetForURL(const ns::URL& url, ResultBlock resultBlock,
                               FailureBlock failureBlock) const {
    dispatch::Queue::global().async(
        [this, url, resultBlock = std::move(resultBlock), failureBlock = std::move(failureBlock)] {
            auto found = assetWithURL(url);
            if (!found) {
                if (failureBlock) failureBlock(found.error());
            } else if (resultBlock) {
                resultBlock(*found);
            }
        });
}

ns::Result<std::shared_ptr<PhotoAsset>> PhotoLibrary::assetWithURL(const ns::URL& url) const {
    if (auto error = accessError()) return *error;
    auto id = idOfURL(url);
    if (!id) return std::shared_ptr<PhotoAsset>();
    auto albumNames = albums();
    if (!albumNames) return albumNames.error();
    albumNames->insert(albumNames->begin(), std::string());
    auto& fm = ns::FileManager::defaultManager();
    for (const auto& album : *albumNames) {
        auto names = fm.contentsOfDirectory(folderOf(album));
        if (!names) continue;
        for (const auto& name : *names) {
            if (!isPlainName(name) || identifierFor(album, name) != *id) continue;
            if (auto asset = makeAsset(album, name)) return asset;
        }
    }
    return std::shared_ptr<PhotoAsset>();
}

ns::Result<std::vector<std::string>> PhotoLibrary::albums() const {
    if (auto error = accessError()) return *error;
    std::vector<std::string> out;
    auto& fm = ns::FileManager::defaultManager();
    auto names = fm.contentsOfDirectory(libraryPath());
    if (!names) return out;  // no folder yet: an empty library
    for (const auto& name : *names) {
        auto attributes = fm.attributesOfItem(libraryPath() + "/" + name);
        if (isPlainName(name) && attributes && attributes->type == ns::FileType::Directory) {
            out.push_back(name);
        }
    }
    return out;
}

ns::Result<std::vector<std::shared_ptr<PhotoAsset>>> PhotoLibrary::assetsInAlbum(
    const std::string& album) const {
    if (auto error = accessError()) return *error;
    std::vector<std::shared_ptr<PhotoAsset>> out;
    if (!album.empty() && !isPlainName(album)) return out;
    auto names = ns::FileManager::defaultManager().contentsOfDirectory(folderOf(album));
    if (!names) return out;
    for (const auto& name : *names) {
        if (!isPlainName(name)) continue;
        if (auto asset = makeAsset(album, name)) out.push_back(std::move(asset));
    }
    return out;
}

ns::Result<std::shared_ptr<PhotoAsset>> PhotoLibrary::addPhoto(const ns::Data& bytes,
                                                               const std::string& fileName,
                                                               const std::string& album,
                                                               std::optional<ns::Date> date) {
    if (!isPlainName(fileName)) return invalidName(fileName);
    if (!album.empty() && !isPlainName(album)) return invalidName(album);
    auto& fm = ns::FileManager::defaultManager();
    const std::string folder = folderOf(album);
    if (auto status = fm.createDirectory(folder, true); !status) return status.error();
    std::string name = fileName;
    for (int n = 2; fm.fileExists(folder + "/" + name); ++n) name = numberedName(fileName, n);
    const std::string path = folder + "/" + name;
    if (auto status = ns::writeFileAtomically(path, bytes); !status) return status.error();
    if (date) {
        double whole = std::floor(date->timeIntervalSince1970());
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(whole);
        times[0].tv_nsec = times[1].tv_nsec =
            static_cast<long>((date->timeIntervalSince1970() - whole) * 1e9);
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
    auto asset = makeAsset(album, name);
    if (!asset) return ns::posixError(ENOENT, path);
    return asset;
}

ns::Status PhotoLibrary::removeAsset(const PhotoAsset& asset) {
    return ns::FileManager::defaultManager().removeItem(asset.path());
}

}  // namespace av
