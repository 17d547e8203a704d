#include "platform/av/PhotoLibrary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/platform/ns/SandboxFixture.h"
#include "tests/support/ManualRunLoop.h"

namespace {

class PhotoLibraryTest : public testsupport::SandboxTest {
protected:
    void TearDown() override {
        library().setAuthorizationStatus(av::PhotoAuthorizationStatus::Authorized);
        SandboxTest::TearDown();
    }
    static av::PhotoLibrary& library() { return av::PhotoLibrary::shared(); }
    static std::shared_ptr<av::PhotoAsset> add(const std::string& bytes, const std::string& name,
                                               const std::string& album = {}) {
        auto asset = library().addPhoto(ns::Data::fromString(bytes), name, album);
        EXPECT_TRUE(asset) << name;
        return asset ? *asset : nullptr;
    }
};

TEST_F(PhotoLibraryTest, PhotosAreFilesInTheSandboxWithStableIdentifiers) {
    auto photo = add("jpeg bytes", "IMG_0001.jpg", "Holidays");
    ASSERT_TRUE(photo);
    EXPECT_EQ(photo->path(),
              ns::Sandbox::libraryDirectory() + "/PhotoLibrary/Holidays/IMG_0001.jpg");
    EXPECT_EQ(photo->album(), "Holidays");
    EXPECT_EQ(photo->size(), 10u);
    EXPECT_EQ(photo->mimeType(), "image/jpeg");
    EXPECT_EQ(photo->identifier(), av::PhotoLibrary::identifierFor("Holidays", "IMG_0001.jpg"));
    EXPECT_EQ(photo->identifier().size(), 36u);
    EXPECT_EQ(photo->assetURL().absoluteString(),
              "assets-library://asset/asset.JPG?id=" + photo->identifier() + "&ext=JPG");
    // Found again by its URL, as any later run would find it.
    auto found = library().assetWithURL(photo->assetURL());
    ASSERT_TRUE(found && *found);
    EXPECT_EQ((*found)->path(), photo->path());
    // A file put into the folder by other means is a photo as well.
    std::ofstream(ns::Sandbox::libraryDirectory() + "/PhotoLibrary/dropped.png") << "png";
    auto dropped = library().assetWithURL(
        *ns::URL::parse("assets-library://asset/asset.PNG?id=" +
                        av::PhotoLibrary::identifierFor("", "dropped.png") + "&ext=PNG"));
    ASSERT_TRUE(dropped && *dropped);
    EXPECT_EQ((*dropped)->fileName(), "dropped.png");
}

TEST_F(PhotoLibraryTest, AlbumsAndTheirPhotos) {
    add("a", "a.jpg");
    add("b", "b.jpg", "Trip");
    add("c", "c.jpg", "Trip");
    std::ofstream(ns::Sandbox::libraryDirectory() + "/PhotoLibrary/Trip/.hidden") << "x";
    EXPECT_EQ(*library().albums(), std::vector<std::string>{"Trip"});
    auto trip = library().assetsInAlbum("Trip");
    ASSERT_EQ(trip->size(), 2u);
    EXPECT_EQ((*trip)[0]->fileName(), "b.jpg");
    EXPECT_EQ((*trip)[1]->fileName(), "c.jpg");
    EXPECT_EQ(library().assetsInAlbum("")->size(), 1u);
    EXPECT_TRUE(library().assetsInAlbum("../..")->empty());
}

TEST_F(PhotoLibraryTest, NamesAreKeptUniqueAndPlain) {
    auto first = add("1", "IMG.JPG");
    auto second = add("2", "IMG.JPG");
    EXPECT_EQ(second->fileName(), "IMG 2.JPG");
    EXPECT_NE(first->identifier(), second->identifier());
    for (const char* bad : {"", "a/b.jpg", "..", ".hidden.jpg"}) {
        EXPECT_FALSE(library().addPhoto(ns::Data::fromString("x"), bad)) << bad;
    }
    EXPECT_FALSE(library().addPhoto(ns::Data::fromString("x"), "ok.jpg", "../escape"));
}

TEST_F(PhotoLibraryTest, DateIsKept) {
    auto photo = library().addPhoto(ns::Data::fromString("x"), "d.jpg", "",
                                    ns::Date::fromTimeIntervalSince1970(1234567890.5));
    ASSERT_TRUE(photo);
    EXPECT_DOUBLE_EQ((*photo)->date().timeIntervalSince1970(), 1234567890.5);
}

TEST_F(PhotoLibraryTest, ByteRangesAreClampedToThePhoto) {
    auto photo = add("0123456789", "r.jpg");
    EXPECT_EQ(photo->getBytes(2, 3)->chars(), "234");
    EXPECT_EQ(photo->getBytes(8, 100)->chars(), "89");
    EXPECT_EQ(photo->getBytes(10, 5)->chars(), "");
    EXPECT_EQ(photo->getBytes(UINT64_MAX, UINT64_MAX)->chars(), "");
    EXPECT_EQ(photo->getBytes(0, UINT64_MAX)->chars(), "0123456789");
    ASSERT_TRUE(library().removeAsset(*photo));
    EXPECT_FALSE(photo->getBytes(0, 1));
    EXPECT_EQ(*library().assetWithURL(photo->assetURL()), nullptr);
}

TEST_F(PhotoLibraryTest, RefusedAccessFailsEveryLookUp) {
    auto photo = add("x", "p.jpg");
    library().setAuthorizationStatus(av::PhotoAuthorizationStatus::Denied);
    auto denied = library().assetWithURL(photo->assetURL());
    ASSERT_FALSE(denied);
    EXPECT_EQ(denied.error().domain(), av::kAssetsLibraryErrorDomain);
    EXPECT_EQ(denied.error().code(), av::kAssetsLibraryAccessUserDeniedError);
    EXPECT_FALSE(library().albums());
    library().setAuthorizationStatus(av::PhotoAuthorizationStatus::Restricted);
    EXPECT_EQ(library().assetWithURL(photo->assetURL()).error().code(),
              av::kAssetsLibraryAccessGloballyDeniedError);
}

class PhotoLibraryAsyncTest : public testsupport::ManualRunLoop {
protected:
    void SetUp() override {
        ManualRunLoop::SetUp();
        ASSERT_TRUE(ns::Sandbox::configure(dir_.str() + "/sandbox"));
    }
    void TearDown() override {
        av::PhotoLibrary::shared().setAuthorizationStatus(av::PhotoAuthorizationStatus::Authorized);
        ManualRunLoop::TearDown();
    }
    testsupport::TempDir dir_;
};

TEST_F(PhotoLibraryAsyncTest, ExactlyOneBlockAnswersLater) {
    auto& library = av::PhotoLibrary::shared();
    auto photo = *library.addPhoto(ns::Data::fromString("x"), "p.jpg");
    int results = 0;
    int failures = 0;
    std::shared_ptr<av::PhotoAsset> answer;
    auto ask = [&](const ns::URL& url) {
        library.assetForURL(
            url,
            [&](std::shared_ptr<av::PhotoAsset> asset) {
                answer = asset;
                ++results;
            },
            [&](const ns::Error&) { ++failures; });
    };
    ask(photo->assetURL());
    loop().runUntilIdle();
    EXPECT_EQ(results, 1);
    EXPECT_TRUE(answer);
    ask(*ns::URL::parse("assets-library://asset/asset.JPG?id=nothing&ext=JPG"));
    loop().runUntilIdle();
    EXPECT_EQ(results, 2);
    EXPECT_FALSE(answer);
    library.setAuthorizationStatus(av::PhotoAuthorizationStatus::Denied);
    ask(photo->assetURL());
    loop().runUntilIdle();
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(results, 2);
}

}  // namespace
