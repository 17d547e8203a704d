#pragma once

#include <cstdint>
#include <string>

#include "platform/ns/Data.h"
#include "platform/ns/Date.h"
#include "platform/ns/Result.h"
#include "platform/ns/URL.h"

namespace av {

// One photo of the photo library: an image file in the library's folder (or in one of its
// album folders), known by an identifier that stays the same as long as the file keeps its
// album and name. A snapshot: the size and date are those of the moment it was looked up.
// Usable from any thread.
class PhotoAsset {
public:
    PhotoAsset(std::string identifier, std::string path, std::string album, ns::Date date,
               uint64_t size);

    // Upper-case hexadecimal in groups of 8-4-4-4-12.
    const std::string& identifier() const { return identifier_; }
    // "assets-library://asset/asset.EXT?id=IDENTIFIER&ext=EXT", EXT being the file name's
    // extension in upper case.
    ns::URL assetURL() const;
    // The album folder's name; empty for a photo outside every album.
    const std::string& album() const { return album_; }
    const std::string& fileName() const { return fileName_; }
    const std::string& path() const { return path_; }
    ns::Date date() const { return date_; }
    uint64_t size() const { return size_; }
    // From the file name's extension; "application/octet-stream" when it is not known.
    std::string mimeType() const;

    // Up to `length` bytes from `offset`: fewer when the range runs past the end of the file,
    // none when it starts there or beyond. The file must still be a regular file.
    ns::Result<ns::Data> getBytes(uint64_t offset, uint64_t length) const;

private:
    std::string identifier_;
    std::string path_;
    std::string album_;
    std::string fileName_;
    ns::Date date_;
    uint64_t size_;
};

}  // namespace av
