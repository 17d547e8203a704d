#include "plugins/device_storage/HYBLocalFilesystem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "platform/ns/FileManager.h"
#include "platform/testing/InjectedFaults.h"
#include "tests/plugins/device_storage/FileTestFixture.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

using filetest::isError;
using filetest::isIOError;
using filetest::isOK;

// --- Path mapping --------------------------------------------------------------------------

TEST(HYBLocalFilesystemMappingTest, FullPathsMapBelowTheRootAndNeverAbove) {
    HYBLocalFilesystem fs("persistent", "/var/mobile/X/Documents");
    const std::string root = "/var/mobile/X/Documents";
    EXPECT_EQ(fs.filesystemPathForFullPath("/a/b.txt?x=1"), root + "/a/b.txt");
    EXPECT_EQ(fs.filesystemPathForFullPath("/a/"), root + "/a");
    EXPECT_EQ(fs.filesystemPathForFullPath(""), root);
    EXPECT_EQ(fs.filesystemPathForFullPath("/"), root);
    EXPECT_EQ(fs.filesystemPathForFullPath("//a//./b/"), root + "/a/b");
    EXPECT_EQ(fs.filesystemPathForFullPath("/a/../b"), root + "/b");
    for (std::string_view escaping :
         {"/..", "/../etc/passwd", "/a/../../x", "..", "/a/b/../../../X/Documents"}) {
        EXPECT_FALSE(fs.filesystemPathForFullPath(escaping)) << escaping;
    }
    EXPECT_FALSE(fs.filesystemPathForFullPath(std::string_view("/a\0/../..", 9)));

    HYBLocalFilesystem rootFs("root", "/");
    EXPECT_EQ(rootFs.filesystemPathForFullPath("/etc/hosts"), "/etc/hosts");
    EXPECT_EQ(rootFs.filesystemPathForFullPath(""), "/");
}

TEST(HYBLocalFilesystemMappingTest, LocalPathsMapBackOnWholeComponents) {
    HYBLocalFilesystem fs("persistent", "/data/Documents");
    EXPECT_EQ(fs.fullPathForFileSystemPath("/data/Documents/a/b"), "/a/b");
    EXPECT_EQ(fs.fullPathForFileSystemPath("/data/Documents"), "");
    EXPECT_FALSE(fs.fullPathForFileSystemPath("/data/DocumentsX/a"));
    EXPECT_FALSE(fs.fullPathForFileSystemPath("/data/Documents/../Library/a"));
    EXPECT_FALSE(fs.fullPathForFileSystemPath("relative/a"));
    EXPECT_FALSE(fs.URLforFilesystemPath("/data/Doc"));

    // A root reached through a link: paths under what it leads to map back too.
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir / "real/a");
    std::filesystem::create_directory_symlink(dir / "real", dir / "link");
    HYBLocalFilesystem linked("persistent", (dir / "link").string());
    const std::string real = std::filesystem::canonical(dir / "real").string();
    EXPECT_EQ(linked.fullPathForFileSystemPath(real + "/a/b"), "/a/b");
    EXPECT_EQ(linked.fullPathForFileSystemPath((dir / "link/a/b").string()), "/a/b");
    EXPECT_EQ(linked.fullPathForFileSystemPath(real), "");
    EXPECT_FALSE(linked.fullPathForFileSystemPath(real + "X/a"));
    auto viaTarget = linked.URLforFilesystemPath(real + "/a");
    ASSERT_TRUE(viaTarget);
    EXPECT_EQ(viaTarget->url()->absoluteString(), "hybfile://localhost/persistent/a");

    HYBLocalFilesystem rootFs("root", "/");
    EXPECT_EQ(rootFs.fullPathForFileSystemPath("/var/x"), "var/x");
    auto url = rootFs.URLforFilesystemPath("/etc/hosts");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->url()->absoluteString(), "hybfile://localhost/root/etc/hosts");
    EXPECT_EQ(url->fullPath(), "/etc/hosts");
}

TEST(HYBLocalFilesystemMappingTest, URLsOfFullPathsAreEscaped) {
    HYBLocalFilesystem fs("temporary", "/tmp/x");
    EXPECT_EQ(fs.URLforFullPath(std::string("a b"))->url()->absoluteString(),
              "hybfile://localhost/temporary/a%20b");
    EXPECT_EQ(fs.URLforFullPath(std::string("/a b"))->url()->absoluteString(),
              "hybfile://localhost/temporary/a%20b");
    EXPECT_FALSE(fs.URLforFullPath(std::nullopt));
    // A "#" or "%" in a name stays part of the name.
    EXPECT_EQ(fs.URLforFullPath(std::string("/x#y%z"))->fullPath(), "/x#y%z");
    EXPECT_EQ(fs.URLforFullPath(std::string("/é"))->fullPath(), "/é");
}

TEST(HYBLocalFilesystemMappingTest, NormalizePath) {
    EXPECT_EQ(HYBLocalFilesystem::normalizePath("/a/b/../../c"), "/c");
    EXPECT_EQ(HYBLocalFilesystem::normalizePath("../../x"), "x");
    EXPECT_EQ(HYBLocalFilesystem::normalizePath("/a/./b/.."), "/a");
    EXPECT_EQ(HYBLocalFilesystem::normalizePath("//a//b/"), "/a/b");
    EXPECT_EQ(HYBLocalFilesystem::normalizePath("/.."), "/");
}

TEST(HYBLocalFilesystemMappingTest, MimeTypes) {
    using M = HYBLocalFilesystem;
    EXPECT_EQ(M::getMimeTypeFromPath(std::string("/a/song.m4a")), "audio/mp4");
    EXPECT_EQ(M::getMimeTypeFromPath(std::string("/a/x.wavy")), "audio/wav");
    EXPECT_EQ(M::getMimeTypeFromPath(std::string("/a/x.mycss")), "text/css");
    EXPECT_EQ(M::getMimeTypeFromPath(std::string("/a/P.JPG")), "image/jpeg");
    EXPECT_FALSE(M::getMimeTypeFromPath(std::string("/a/noextension")));
    EXPECT_FALSE(M::getMimeTypeFromPath(std::nullopt));
}

// --- Entries ---------------------------------------------------------------------------------

class HYBLocalFilesystemTest : public filetest::FileFixture {
protected:
    void SetUp() override {
        FileFixture::SetUp();
        start();
    }
    std::shared_ptr<HYBPluginResult> getFile(const std::string& dir, const std::string& path,
                                             ns::Value options) {
        return call("getFile", {url("persistent", dir), path, std::move(options)});
    }
    static const ns::Value& field(const std::shared_ptr<HYBPluginResult>& result, const char* key) {
        return result->message()[key];
    }
};

TEST_F(HYBLocalFilesystemTest, GetFileCreatesOnceAndChecksTheKind) {
    auto created = getFile("/", "f", ns::Value::dict({{"create", true}}));
    ASSERT_TRUE(isOK(created));
    EXPECT_EQ(field(created, "isFile"), ns::Value(true));
    EXPECT_EQ(field(created, "fullPath"), ns::Value("/f"));
    EXPECT_EQ(field(created, "name"), ns::Value("f"));
    EXPECT_EQ(field(created, "filesystemName"), ns::Value("persistent"));
    EXPECT_EQ(field(created, "nativeURL"),
              ns::Value(ns::URL::fileURLWithPath(documents() + "/f").absoluteString()));
    EXPECT_EQ(readFile(documents() + "/f"), "");

    EXPECT_TRUE(isIOError(getFile("/", "f", ns::Value::dict({{"create", true}, {"exclusive", 1}})),
                          PATH_EXISTS_ERR));
    EXPECT_TRUE(
        isIOError(getFile("/", "f", ns::Value::dict({{"getDir", true}})), TYPE_MISMATCH_ERR));
    EXPECT_TRUE(isIOError(getFile("/", "missing", ns::Dictionary()), NOT_FOUND_ERR));
    // Only numbers and booleans count as flags.
    EXPECT_TRUE(
        isIOError(getFile("/", "other", ns::Value::dict({{"create", "true"}})), NOT_FOUND_ERR));
    EXPECT_TRUE(isIOError(getFile("/", "a:b", ns::Value::dict({{"create", true}})), ENCODING_ERR));
    EXPECT_TRUE(isIOError(getFile("/", "a/b/c", ns::Value::dict({{"create", true}})), ABORT_ERR));

    auto dir = getFile("/", "d", ns::Value::dict({{"create", true}, {"getDir", true}}));
    ASSERT_TRUE(isOK(dir));
    EXPECT_EQ(field(dir, "fullPath"), ns::Value("/d/"));
    EXPECT_EQ(field(dir, "nativeURL"),
              ns::Value(ns::URL::fileURLWithPath(documents() + "/d", true).absoluteString()));
    EXPECT_TRUE(isIOError(getFile("/", "d", ns::Dictionary()), TYPE_MISMATCH_ERR));
}

TEST_F(HYBLocalFilesystemTest, RequestedPathsAreResolvedInsideTheRoot) {
    std::filesystem::create_directories(documents() + "/d");
    auto created = getFile("/d", "../../x", ns::Value::dict({{"create", true}}));
    ASSERT_TRUE(isOK(created));
    EXPECT_EQ(field(created, "fullPath"), ns::Value("/x"));
    EXPECT_TRUE(exists(documents() + "/x"));
    // A leading "/" still names something below the directory.
    ASSERT_TRUE(isOK(getFile("/d", "/y", ns::Value::dict({{"create", true}}))));
    EXPECT_TRUE(exists(documents() + "/d/y"));
}

TEST_F(HYBLocalFilesystemTest, ParentOfTheRootIsTheRoot) {
    writeFile(documents() + "/a.txt", "x");
    auto parent = call("getParent", {url("persistent", "/a.txt")});
    ASSERT_TRUE(isOK(parent));
    EXPECT_EQ(field(parent, "fullPath"), ns::Value("/"));
    EXPECT_EQ(field(parent, "name"), ns::Value(""));
    auto rootParent = call("getParent", {url("persistent", "/")});
    EXPECT_EQ(field(rootParent, "fullPath"), ns::Value("/"));

    std::filesystem::create_directories(documents() + "/a/b");
    auto nested = call("getParent", {url("persistent", "/a/b")});
    EXPECT_EQ(field(nested, "fullPath"), ns::Value("/a/"));
    EXPECT_EQ(field(nested, "name"), ns::Value("a"));
    EXPECT_TRUE(isIOError(call("getParent", {url("persistent", "/../../a")}), NOT_FOUND_ERR));
}

TEST_F(HYBLocalFilesystemTest, EntriesResolvedFromURLsAreNormalised) {
    std::filesystem::create_directories(documents() + "/a");
    auto entry = call("resolveLocalFileSystemURI", {url("persistent", "/x/../a")});
    ASSERT_TRUE(isOK(entry));
    EXPECT_EQ(field(entry, "fullPath"), ns::Value("/a/"));
    EXPECT_EQ(field(entry, "isDirectory"), ns::Value(true));
    EXPECT_TRUE(isIOError(call("resolveLocalFileSystemURI", {url("persistent", "/../sandbox")}),
                          NOT_FOUND_ERR));
}

TEST_F(HYBLocalFilesystemTest, ReadEntriesListsHiddenChildrenWithTheirKind) {
    std::filesystem::create_directories(documents() + "/dir/sub");
    writeFile(documents() + "/dir/.hidden", "h");
    writeFile(documents() + "/dir/file", "f");
    auto listing = call("readEntries", {url("persistent", "/dir")});
    ASSERT_TRUE(isOK(listing));
    const ns::Array& entries = *listing->message().array();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0]["fullPath"], ns::Value("/dir/.hidden"));
    EXPECT_EQ(entries[1]["fullPath"], ns::Value("/dir/file"));
    EXPECT_EQ(entries[2]["fullPath"], ns::Value("/dir/sub/"));
    EXPECT_EQ(entries[2]["isDirectory"], ns::Value(true));
    EXPECT_TRUE(isIOError(call("readEntries", {url("persistent", "/nothing")}), NOT_FOUND_ERR));
}

TEST_F(HYBLocalFilesystemTest, RemoveTakesFilesAndEmptyDirectoriesOnly) {
    std::filesystem::create_directories(documents() + "/full");
    writeFile(documents() + "/full/.hidden", "h");
    EXPECT_TRUE(isIOError(call("remove", {url("persistent", "/full")}), INVALID_MODIFICATION_ERR));
    EXPECT_TRUE(isIOError(call("remove", {url("persistent", "/gone")}), NOT_FOUND_ERR));
    writeFile(documents() + "/file", "x");
    EXPECT_TRUE(isOK(call("remove", {url("persistent", "/file")})));
    EXPECT_FALSE(exists(documents() + "/file"));
    EXPECT_TRUE(isOK(call("removeRecursively", {url("persistent", "/full")})));
    EXPECT_FALSE(exists(documents() + "/full"));
}

TEST_F(HYBLocalFilesystemTest, RootCannotBeRemovedHoweverItIsSpelt) {
    writeFile(documents() + "/keep", "x");
    for (const char* path : {"", "/", "//", "/.", "/a/..", "/a/../", "/./."}) {
        for (const char* action : {"remove", "removeRecursively"}) {
            EXPECT_TRUE(
                isIOError(call(action, {url("persistent", path)}), NO_MODIFICATION_ALLOWED_ERR))
                << action << " " << path;
        }
    }
    EXPECT_EQ(readFile(documents() + "/keep"), "x");
    // The file system keeps its root itself, for callers other than the page's actions.
    auto fs = plugin().fileSystemByName("persistent");
    EXPECT_TRUE(
        isIOError(fs->recursiveRemoveFileAtURL(HYBFilesystemURL(url("persistent", "/a/.."))),
                  NO_MODIFICATION_ALLOWED_ERR));
    EXPECT_TRUE(isIOError(fs->removeFileAtURL(HYBFilesystemURL(url("persistent", "/."))),
                          NO_MODIFICATION_ALLOWED_ERR));
    EXPECT_TRUE(exists(documents() + "/keep"));
}

TEST_F(HYBLocalFilesystemTest, MetadataOfFilesAndFolders) {
    writeFile(documents() + "/m.txt", "12345");
    auto metadata = call("getFileMetadata", {url("persistent", "/m.txt")});
    ASSERT_TRUE(isOK(metadata));
    EXPECT_EQ(field(metadata, "size"), ns::Value(5));
    EXPECT_EQ(field(metadata, "type"), ns::Value(""));
    EXPECT_EQ(field(metadata, "name"), ns::Value("m.txt"));
    EXPECT_EQ(field(metadata, "fullPath"), ns::Value("/m.txt"));
    EXPECT_TRUE(field(metadata, "lastModifiedDate").isDouble());
    auto root = call("getFileMetadata", {url("persistent", "/")});
    EXPECT_EQ(field(root, "name"), ns::Value("Documents"));
    EXPECT_EQ(field(root, "size"), ns::Value(0));
    EXPECT_TRUE(isError(call("getFileMetadata", {url("persistent", "/none")}), NOT_FOUND_ERR));

    EXPECT_TRUE(isOK(call("setMetadata", {url("persistent", "/m.txt"),
                                          ns::Value::dict({{"com.apple.MobileBackup", 1}})})));
    EXPECT_TRUE(ns::FileManager::defaultManager().isExcludedFromBackup(documents() + "/m.txt"));
    auto refused = call("setMetadata", {url("persistent", "/m.txt"),
                                        ns::Value::dict({{"com.apple.MobileBackup", "1"}})});
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status(), HYBResultStatusError);
    EXPECT_TRUE(refused->message().isNull());
}

// --- Contents --------------------------------------------------------------------------------

TEST_F(HYBLocalFilesystemTest, TruncateCutsOrExtendsAndNeverCreates) {
    EXPECT_EQ(call("truncate", {url("persistent", "/missing"), 3})->message(), ns::Value(0));
    EXPECT_FALSE(exists(documents() + "/missing"));
    writeFile(documents() + "/t", "123456");
    EXPECT_EQ(call("truncate", {url("persistent", "/t"), 2})->message(), ns::Value(2));
    EXPECT_EQ(readFile(documents() + "/t"), "12");
    EXPECT_EQ(call("truncate", {url("persistent", "/t"), 4})->message(), ns::Value(4));
    EXPECT_EQ(readFile(documents() + "/t"), std::string("12\0\0", 4));
    // A length that may not have reached the storage is no success.
    ns::InjectedFaults::add("fsync", EIO);
    EXPECT_TRUE(
        isIOError(call("truncate", {url("persistent", "/t"), 1}), INVALID_MODIFICATION_ERR));
}

TEST_F(HYBLocalFilesystemTest, EmptyWriteCreatesNothing) {
    auto fs = plugin().fileSystemByName("persistent");
    auto result = fs->writeToFileAtURL(HYBFilesystemURL(url("persistent", "/w")), ns::Data(), true);
    ASSERT_TRUE(isOK(result));
    EXPECT_EQ(result->message(), ns::Value(0.0));
    EXPECT_FALSE(exists(documents() + "/w"));
}

TEST_F(HYBLocalFilesystemTest, ReadsClampTheirRange) {
    writeFile(documents() + "/r.txt", "abcdefgh");
    auto read = [&](int64_t start, int64_t end) {
        return call("readAsText", {url("persistent", "/r.txt"), "UTF-8", start, end});
    };
    EXPECT_EQ(read(2, 5)->message(), ns::Value("cde"));
    EXPECT_EQ(read(0, -1)->message(), ns::Value("abcdefgh"));
    EXPECT_EQ(read(10, 20)->message(), ns::Value(""));
    EXPECT_EQ(read(-4, 2)->message(), ns::Value("ab"));
    EXPECT_EQ(read(6, 2)->message(), ns::Value("gh"));
    EXPECT_EQ(read(3, 1000)->message(), ns::Value("defgh"));
    // An end at the start is an empty range, not one to the end of the file.
    EXPECT_EQ(read(3, 3)->message(), ns::Value(""));
    EXPECT_EQ(read(0, 0)->message(), ns::Value(""));
}

TEST_F(HYBLocalFilesystemTest, OnlyRegularFilesAreRead) {
    ASSERT_EQ(::mkfifo((documents() + "/fifo").c_str(), 0600), 0);
    std::filesystem::create_directories(documents() + "/folder");
    for (const std::string& target :
         {url("persistent", "/fifo"), url("persistent", "/folder"), url("root", "/dev/zero")}) {
        EXPECT_TRUE(isIOError(call("readAsArrayBuffer", {target, 0, -1}), NOT_FOUND_ERR)) << target;
    }
}

TEST_F(HYBLocalFilesystemTest, OneReadAnswersAtMostTheConfiguredLength) {
    writeFile(documents() + "/big", "0123456789");
    HYBFileSystem::setMaxReadLength(4);
    EXPECT_TRUE(
        isIOError(call("readAsArrayBuffer", {url("persistent", "/big"), 0, -1}), NOT_READABLE_ERR));
    auto part = call("readAsArrayBuffer", {url("persistent", "/big"), 6, 100});
    ASSERT_TRUE(isOK(part));
    EXPECT_EQ(part->message()["data"],
              ns::Value(ns::Data::fromString("6789").base64EncodedString()));
}

// --- Copy and move ---------------------------------------------------------------------------

class HYBLocalCopyTest : public HYBLocalFilesystemTest {
protected:
    std::shared_ptr<HYBPluginResult> copy(const std::string& src, const std::string& dir,
                                          ns::Value name) {
        return call("copyTo", {url("persistent", src), url("persistent", dir), std::move(name)});
    }
    std::shared_ptr<HYBPluginResult> move(const std::string& src, const std::string& dir,
                                          ns::Value name) {
        return call("moveTo", {url("persistent", src), url("persistent", dir), std::move(name)});
    }
    void SetUp() override {
        HYBLocalFilesystemTest::SetUp();
        std::filesystem::create_directories(documents() + "/a/b/c");
        writeFile(documents() + "/f.txt", "source");
        writeFile(documents() + "/g.txt", "other");
    }
};

TEST_F(HYBLocalCopyTest, CopiesNeverLandOnOrInsideThemselves) {
    EXPECT_TRUE(isIOError(copy("/f.txt", "/", "f.txt"), INVALID_MODIFICATION_ERR));
    EXPECT_TRUE(isIOError(copy("/a/b", "/a/b/c", "b"), INVALID_MODIFICATION_ERR));
    EXPECT_TRUE(isIOError(copy("/a/b", "/a/b", "b"), INVALID_MODIFICATION_ERR));
    // The same folder by another name (a link) is still the same folder.
    std::filesystem::create_directory_symlink(documents() + "/a/b", documents() + "/link");
    EXPECT_TRUE(isIOError(copy("/a/b", "/link/c", "b2"), INVALID_MODIFICATION_ERR));
    EXPECT_TRUE(isIOError(move("/a/b", "/link", "b2"), INVALID_MODIFICATION_ERR));
    // A sibling whose name only starts like the source's is somewhere else.
    auto sibling = copy("/a/b", "/a", "bc");
    ASSERT_TRUE(isOK(sibling));
    EXPECT_EQ(sibling->message()["fullPath"], ns::Value("/a/bc/"));
    EXPECT_TRUE(exists(documents() + "/a/bc/c"));
}

TEST_F(HYBLocalCopyTest, NewNamesArePlainNames) {
    for (const ns::Value& name :
         {ns::Value("a:b"), ns::Value("x/y"), ns::Value(".."), ns::Value("."), ns::Value(""),
          ns::Value(), ns::Value(std::string("g\0.txt", 6))}) {
        EXPECT_TRUE(isIOError(copy("/f.txt", "/a", name), ENCODING_ERR)) << name.description();
        EXPECT_TRUE(isIOError(move("/f.txt", "/a", name), ENCODING_ERR)) << name.description();
    }
    EXPECT_TRUE(exists(documents() + "/f.txt"));
    EXPECT_FALSE(exists(documents() + "/a/g"));
    // Without a third argument the source's own name is kept.
    ASSERT_TRUE(isOK(call("copyTo", {url("persistent", "/f.txt"), url("persistent", "/a")})));
    EXPECT_EQ(readFile(documents() + "/a/f.txt"), "source");
}

TEST_F(HYBLocalCopyTest, CopyRefusesExistingTargets) {
    EXPECT_TRUE(isIOError(copy("/f.txt", "/", "g.txt"), PATH_EXISTS_ERR));
    EXPECT_TRUE(isIOError(copy("/f.txt", "/", "a"), PATH_EXISTS_ERR));
    EXPECT_TRUE(isIOError(copy("/a", "/", "g.txt"), INVALID_MODIFICATION_ERR));
    EXPECT_TRUE(isIOError(copy("/nothing", "/", "x"), NOT_FOUND_ERR));
    EXPECT_TRUE(isIOError(copy("/f.txt", "/nowhere", "x"), NOT_FOUND_ERR));
    EXPECT_EQ(readFile(documents() + "/g.txt"), "other");
}

TEST_F(HYBLocalCopyTest, MoveReplacesFilesAndEmptyFolders) {
    auto moved = move("/f.txt", "/", "g.txt");
    ASSERT_TRUE(isOK(moved));
    EXPECT_EQ(moved->message()["isFile"], ns::Value(true));
    EXPECT_EQ(readFile(documents() + "/g.txt"), "source");
    EXPECT_FALSE(exists(documents() + "/f.txt"));

    std::filesystem::create_directories(documents() + "/empty");
    ASSERT_TRUE(isOK(move("/a/b", "/", "empty")));
    EXPECT_TRUE(exists(documents() + "/empty/c"));
    EXPECT_FALSE(exists(documents() + "/a/b"));

    std::filesystem::create_directories(documents() + "/a/x");
    EXPECT_TRUE(isIOError(move("/a/x", "/", "empty"), INVALID_MODIFICATION_ERR));
    writeFile(documents() + "/h.txt", "h");
    EXPECT_TRUE(isIOError(move("/h.txt", "/", "empty"), INVALID_MODIFICATION_ERR));
    EXPECT_TRUE(isIOError(move("/a", "/", "h.txt"), INVALID_MODIFICATION_ERR));
    // Nothing hidden stays behind in the folder that received the entries.
    for (const auto& entry : std::filesystem::directory_iterator(documents())) {
        EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
    }
}

TEST_F(HYBLocalCopyTest, MoveAcrossFileSystemsReplacesTheTargetWhole) {
    // The first rename meets another volume: the entry travels as a copy beside the target
    // and replaces it in one rename.
    ns::InjectedFaults::add("rename", EXDEV);
    ASSERT_TRUE(isOK(move("/f.txt", "/", "g.txt")));
    EXPECT_EQ(readFile(documents() + "/g.txt"), "source");
    EXPECT_FALSE(exists(documents() + "/f.txt"));
    ns::InjectedFaults::add("rename", EXDEV);
    ASSERT_TRUE(isOK(call("moveTo", {url("persistent", "/g.txt"), url("temporary", "/"), "t"})));
    EXPECT_EQ(readFile(temporary() + "/t"), "source");
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(documents())) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"NoCloud", "a"}));
}

}  // namespace
