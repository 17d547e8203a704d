#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/av/PhotoAsset.h"
#include "platform/ns/Data.h"
#include "platform/ns/Date.h"
#include "platform/ns/Error.h"
#include "platform/ns/Result.h"
#include "platform/ns/URL.h"

namespace av {

// Whether the user lets the application see the photo library.
enum class PhotoAuthorizationStatus { NotDetermined, Restricted, Denied, Authorized };

// The error domain and codes of refused access.
inline constexpr const char* kAssetsLibraryErrorDomain = "ALAssetsLibraryErrorDomain";
inline constexpr int64_t kAssetsLibraryAccessUserDeniedError = -3311;
inline constexpr int64_t kAssetsLibraryAccessGloballyDeniedError = -3312;

// Name of the library's folder inside the sandbox's Library folder.
inline constexpr const char* kPhotoLibraryFolderName = "PhotoLibrary";

// The device's photo library: image files in Library/PhotoLibrary of the sandbox, each
// sub-folder an album. Hidden files (names starting with ".") are not photos. Access follows
// the authorisation status, which starts as authorised; a refused status makes every look-up
// fail with an error of kAssetsLibraryErrorDomain. Usable from any thread.
class PhotoLibrary {
public:
    using ResultBlock = std::function<void(std::shared_ptr<PhotoAsset>)>;
    using FailureBlock = std::function<void(const ns::Error&)>;

    static PhotoLibrary& shared();

    // The library's folder in the sandbox as it is configured now.
    static std::string libraryPath();

    PhotoAuthorizationStatus authorizationStatus() const { return status_.load(); }
    void setAuthorizationStatus(PhotoAuthorizationStatus status) { status_.store(status); }

    // Looks the asset of an "assets-library" URL up on the global queue; later exactly one
    // block runs there: the result block with the asset, or with null when there is no such
    // asset, or the failure block when access is refused.
    void assetForURL(const ns::URL& url, ResultBlock resultBlock, FailureBlock failureBlock) const;
    // The same, at once: null when there is no such asset.
    ns::Result<std::shared_ptr<PhotoAsset>> assetWithURL(const ns::URL& url) const;

    // Album names in byte order.
    ns::Result<std::vector<std::string>> albums() const;
    // The photos of an album (empty: the photos outside every album), by file name.
    ns::Result<std::vector<std::shared_ptr<PhotoAsset>>> assetsInAlbum(
        const std::string& album) const;

    // --- Control surface (tests, the host's command line, capture) ------------------------
    // Saves the bytes as a new photo. A name already taken gets " 2", " 3"... before its
    // extension. The date, when given, becomes the photo's date. Names and albums must be
    // plain file names (no "/", not hidden, not "." or "..").
    ns::Result<std::shared_ptr<PhotoAsset>> addPhoto(const ns::Data& bytes,
                                                     const std::string& fileName,
                                                     const std::string& album = {},
                                                     std::optional<ns::Date> date = {});
    ns::Status removeAsset(const PhotoAsset& asset);

    // The identifier of the photo at `album`/`fileName`, whether or not it exists.
    static std::string identifierFor(const std::string& album, const std::string& fileName);

private:
    PhotoLibrary() = default;

    std::optional<ns::Error> accessError() const;
    std::shared_ptr<PhotoAsset> makeAsset(const std::string& album,
                                          const std::string& fileName) const;

    std::atomic<PhotoAuthorizationStatus> status_{PhotoAuthorizationStatus::Authorized};
};

}  // namespace av
