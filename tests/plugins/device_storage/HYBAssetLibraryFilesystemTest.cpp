#include "plugins/device_storage/HYBAssetLibraryFilesystem.h"

#include <gtest/gtest.h>

#include "platform/av/PhotoLibrary.h"
#include "tests/plugins/device_storage/FileTestFixture.h"
#include "tests/support/LogCapture.h"

namespace {

using filetest::isIOError;
using filetest::isOK;

class HYBAssetLibraryFilesystemTest : public filetest::FileFixture {
protected:
    void SetUp() override {
        FileFixture::SetUp();
        start();
        auto added = av::PhotoLibrary::shared().addPhoto(
            ns::Data::fromString("0123456789"), "IMG_0001.JPG", "Camera Roll",
            ns::Date::fromTimeIntervalSince1970(1500000000));
        ASSERT_TRUE(added);
        photo = *added;
        assetURL = photo->assetURL().absoluteString();
        // hybfile://localhost/assets-library/asset/asset.JPG?id=...&ext=JPG
        hybfileURL = "hybfile://localhost/assets-library" + assetURL.substr(16);
    }

    std::shared_ptr<av::PhotoAsset> photo;
    std::string assetURL;
    std::string hybfileURL;
};

TEST_F(HYBAssetLibraryFilesystemTest, EntriesAreMadeWithoutLookingTheAssetUp) {
    auto entry = call("resolveLocalFileSystemURI",
                      {"hybfile://localhost/assets-library/asset/asset.JPG?id=1&ext=JPG"});
    ASSERT_TRUE(isOK(entry));
    const ns::Value& m = entry->message();
    EXPECT_EQ(m["name"], ns::Value("asset.JPG?id=1&ext=JPG"));
    EXPECT_EQ(m["fullPath"], ns::Value("/asset/asset.JPG?id=1&ext=JPG"));
    EXPECT_EQ(m["nativeURL"], ns::Value("assets-library://asset/asset.JPG?id=1&ext=JPG"));
    EXPECT_EQ(m["isFile"], ns::Value(true));
    EXPECT_EQ(m["filesystemName"], ns::Value("assets-library"));

    auto root = call("requestFileSystem", {2, 0})->message()["root"];
    EXPECT_EQ(root["fullPath"], ns::Value("/"));
    EXPECT_EQ(root["name"], ns::Value("/"));
    EXPECT_EQ(root["nativeURL"], ns::Value("assets-library://"));
}

TEST_F(HYBAssetLibraryFilesystemTest, ReadsWholeAndRangesInEveryForm) {
    for (const std::string& address : {assetURL, hybfileURL}) {
        auto whole = call("readAsDataURL", {address, 0, -1});
        ASSERT_TRUE(isOK(whole)) << address;
        EXPECT_EQ(whole->message(),
                  ns::Value("data:image/jpeg;base64," +
                            ns::Data::fromString("0123456789").base64EncodedString()));
        auto range = call("readAsText", {address, "UTF-8", 2, 5});
        EXPECT_EQ(range->message(), ns::Value("234"));
    }
    // Ranges are clamped to the photo.
    EXPECT_EQ(call("readAsText", {assetURL, "UTF-8", -5, 3})->message(), ns::Value("012"));
    EXPECT_EQ(call("readAsText", {assetURL, "UTF-8", 8, 100})->message(), ns::Value("89"));
    EXPECT_EQ(call("readAsText", {assetURL, "UTF-8", 50, 60})->message(), ns::Value(""));
    EXPECT_EQ(call("readAsText", {assetURL, "UTF-8", 7, 2})->message(), ns::Value("789"));
    HYBFileSystem::setMaxReadLength(4);
    EXPECT_TRUE(isIOError(call("readAsArrayBuffer", {assetURL, 0, -1}), NOT_READABLE_ERR));
    EXPECT_TRUE(isOK(call("readAsArrayBuffer", {assetURL, 0, 4})));
}

TEST_F(HYBAssetLibraryFilesystemTest, MetadataComesFromThePhoto) {
    auto metadata = call("getFileMetadata", {hybfileURL});
    ASSERT_TRUE(isOK(metadata));
    const ns::Value& m = metadata->message();
    EXPECT_EQ(m["size"], ns::Value(10));
    EXPECT_EQ(m["name"], ns::Value("IMG_0001.JPG"));
    EXPECT_EQ(m["type"], ns::Value("image/jpeg"));
    EXPECT_EQ(m["fullPath"], ns::Value(assetURL.substr(16)));
    EXPECT_EQ(m["lastModifiedDate"], ns::Value(1500000000000.0));
}

TEST_F(HYBAssetLibraryFilesystemTest, GoneAndRefusedPhotos) {
    ASSERT_TRUE(av::PhotoLibrary::shared().removeAsset(*photo));
    EXPECT_TRUE(isIOError(call("readAsArrayBuffer", {assetURL, 0, -1}), NOT_FOUND_ERR));
    EXPECT_TRUE(isIOError(call("getFileMetadata", {assetURL}), NOT_FOUND_ERR));

    testsupport::LogCapture log;
    av::PhotoLibrary::shared().setAuthorizationStatus(av::PhotoAuthorizationStatus::Denied);
    EXPECT_TRUE(isIOError(call("readAsArrayBuffer", {assetURL, 0, -1}), SECURITY_ERR));
    EXPECT_TRUE(log.contains("Error: Error Domain=ALAssetsLibraryErrorDomain Code=-3311"));
    auto metadata = call("getFileMetadata", {assetURL});
    EXPECT_EQ(metadata->status(), HYBResultStatusIOError);
    EXPECT_EQ(metadata->message(), ns::Value("User denied access"));
}

TEST_F(HYBAssetLibraryFilesystemTest, ChangesAndFolderOperationsAreRefused) {
    auto malformed = [](const std::shared_ptr<HYBPluginResult>& r, const char* text) {
        return r && r->status() == HYBResultStatusMalformedUrl && r->message() == ns::Value(text);
    };
    EXPECT_TRUE(malformed(call("getFile", {assetURL, "x", ns::Value()}),
                          "getFile not supported for assets-library URLs."));
    EXPECT_TRUE(malformed(call("readEntries", {assetURL}),
                          "readEntries not supported for assets-library URLs."));
    EXPECT_TRUE(malformed(call("removeRecursively", {assetURL}),
                          "removeRecursively not supported for assets-library URLs."));
    EXPECT_TRUE(isIOError(call("remove", {assetURL}), INVALID_MODIFICATION_ERR));
    EXPECT_TRUE(isIOError(call("write", {assetURL, "x", 0}), NO_MODIFICATION_ALLOWED_ERR));
    EXPECT_TRUE(isIOError(call("truncate", {assetURL, 0}), NO_MODIFICATION_ALLOWED_ERR));
    EXPECT_TRUE(isIOError(call("getParent", {assetURL}), NOT_READABLE_ERR));
    auto metadata = call("setMetadata", {assetURL, ns::Value()});
    EXPECT_EQ(metadata->status(), HYBResultStatusError);
    EXPECT_TRUE(metadata->message().isNull());

    writeFile(documents() + "/local.jpg", "local");
    EXPECT_TRUE(
        isIOError(call("copyTo", {url("persistent", "/local.jpg"), "assets-library://", "x.jpg"}),
                  INVALID_MODIFICATION_ERR));
    EXPECT_EQ(photo->getBytes(0, 100)->chars(), "0123456789");
}

TEST_F(HYBAssetLibraryFilesystemTest, CopyIntoALocalFileSystemWritesThePhotosBytes) {
    writeFile(temporary() + "/copy.jpg", "old contents");
    auto copied = call("copyTo", {assetURL, url("temporary", "/"), "copy.jpg"});
    ASSERT_TRUE(isOK(copied));
    EXPECT_EQ(copied->message()["isFile"], ns::Value(true));
    EXPECT_EQ(copied->message()["fullPath"], ns::Value("/copy.jpg"));
    EXPECT_EQ(readFile(temporary() + "/copy.jpg"), "0123456789");
    // A move copies too: the photo stays in the library.
    ASSERT_TRUE(isOK(call("moveTo", {hybfileURL, url("temporary", "/"), "moved.jpg"})));
    EXPECT_EQ(readFile(temporary() + "/moved.jpg"), "0123456789");
    EXPECT_TRUE(photo->getBytes(0, 1));
}

TEST_F(HYBAssetLibraryFilesystemTest, PathOfAnEntry) {
    auto fs = plugin().fileSystemByName("assets-library");
    EXPECT_EQ(fs->filesystemPathForURL(HYBFilesystemURL(assetURL)), "/asset.JPG");
    EXPECT_EQ(fs->filesystemPathForURL(
                  HYBFilesystemURL("hybfile://localhost/assets-library/asset/a.JPG?id=1")),
              "/asset/a.JPG?id=1");
}

}  // namespace
