#include "plugins/device_storage/HYBFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "platform/ns/FileManager.h"
#include "platform/ns/Sandbox.h"
#include "platform/testing/InjectedFaults.h"
#include "plugins/device_storage/HYBLocalFilesystem.h"
#include "tests/plugins/device_storage/FileTestFixture.h"
#include "tests/support/LogCapture.h"

namespace {

using filetest::isError;
using filetest::isIOError;
using filetest::isOK;

class HYBFileTest : public filetest::FileFixture {
protected:
    std::vector<std::string> registeredNames() {
        std::vector<std::string> names;
        for (const auto& fs : plugin().fileSystems()) names.push_back(fs->name());
        return names;
    }
    std::string rootOf(const std::string& name) {
        auto fs = std::dynamic_pointer_cast<HYBLocalFilesystem>(plugin().fileSystemByName(name));
        return fs ? fs->fsRoot() : "";
    }
};

// --- Registry ----------------------------------------------------------------------------------

TEST_F(HYBFileTest, DefaultRegistry) {
    start();
    EXPECT_EQ(registeredNames(),
              (std::vector<std::string>{"temporary", "persistent", "assets-library", "library",
                                        "library-nosync", "documents", "documents-nosync", "cache",
                                        "bundle", "root"}));
    EXPECT_EQ(rootOf("persistent"), ns::Sandbox::documentsDirectory());
    EXPECT_EQ(rootOf("temporary"), temporary());
    EXPECT_EQ(rootOf("bundle"), bundlePath());
    auto& fm = ns::FileManager::defaultManager();
    for (const std::string& dir : {ns::Sandbox::libraryDirectory() + "/NoCloud",
                                   ns::Sandbox::documentsDirectory() + "/NoCloud"}) {
        bool isDirectory = false;
        EXPECT_TRUE(fm.fileExists(dir, &isDirectory) && isDirectory) << dir;
        EXPECT_TRUE(fm.isExcludedFromBackup(dir)) << dir;
    }
    EXPECT_EQ(HYBFile::sharedInstance(), plugin_);
}

TEST_F(HYBFileTest, PersistentLocationFromTheSettings) {
    start({{"iospersistentfilelocation", "Library"}});
    EXPECT_EQ(rootOf("persistent"), ns::Sandbox::libraryDirectory() + "/files");
    EXPECT_TRUE(exists(ns::Sandbox::libraryDirectory() + "/files"));
}

TEST_F(HYBFileTest, UnknownPersistentLocationStopsTheRegistryWithoutStoppingTheHost) {
    testsupport::LogCapture log;
    log.expect("File plugin configuration error: Please set iosPersistentFileLocation");
    start({{"iospersistentfilelocation", "elsewhere"}});
    EXPECT_EQ(registeredNames(), std::vector<std::string>{"temporary"});
    EXPECT_TRUE(
        log.contains("File plugin configuration error: Please set "
                     "iosPersistentFileLocation in config.xml"));
}

TEST_F(HYBFileTest, ExtraFileSystemsFollowTheSettingAsWritten) {
    testsupport::LogCapture log;
    start({{"iosextrafilesystems", "cache,bogus,cache, library"}});
    EXPECT_EQ(registeredNames(),
              (std::vector<std::string>{"temporary", "persistent", "assets-library", "cache"}));
    EXPECT_EQ(log.count("Unrecognized extra filesystem identifier: bogus"), 1u);
    EXPECT_EQ(log.count("Unrecognized extra filesystem identifier:  library"), 1u);
}

TEST_F(HYBFileTest, LocalPathsGoToTheFileSystemWithTheShortestFullPath) {
    start();
    auto inTemp = plugin().fileSystemURLforLocalPath(temporary() + "/x.txt");
    ASSERT_TRUE(inTemp);
    EXPECT_EQ(inTemp->fileSystemName(), "temporary");
    auto inDocuments = plugin().fileSystemURLforLocalPath(documents() + "/a.txt");
    EXPECT_EQ(inDocuments->fileSystemName(), "persistent");
    auto hosts = plugin().fileSystemURLforLocalPath("/etc/hosts");
    EXPECT_EQ(hosts->url()->absoluteString(), "hybfile://localhost/root/etc/hosts");
    EXPECT_EQ(hosts->fullPath(), "/etc/hosts");
    EXPECT_FALSE(plugin().filesystemPathForURL(HYBFilesystemURL(url("nosuchfs", "/a"))));
}

TEST_F(HYBFileTest, WithoutTheRootFileSystemForeignPathsHaveNoURL) {
    start({{"iosextrafilesystems", "cache"}});
    EXPECT_FALSE(plugin().fileSystemURLforLocalPath("/etc/hosts"));
}

TEST_F(HYBFileTest, FileArgumentsAreResolvedThroughLinks) {
    start();
    writeFile(temporary() + "/target.txt", "t");
    std::filesystem::create_symlink(temporary() + "/target.txt", documents() + "/link.txt");
    auto url = plugin().fileSystemURLforArg(
        ns::URL::fileURLWithPath(documents() + "/link.txt").absoluteString());
    ASSERT_TRUE(url);
    EXPECT_EQ(url->fileSystemName(), "temporary");
    EXPECT_EQ(url->fullPath(), "/target.txt");
}

TEST_F(HYBFileTest, NativeURLsGoThroughTheDelegatesTransformer) {
    start();
    delegate_->setUrlTransformer(
        [](const ns::URL& url) { return *ns::URL::parse("app://localhost/_file_" + url.path()); });
    auto entry = call("requestFileSystem", {0, 0})->message()["root"];
    EXPECT_EQ(entry["nativeURL"], ns::Value("app://localhost/_file_" + temporary()));
}

// --- File systems ----------------------------------------------------------------------------

TEST_F(HYBFileTest, RequestFileSystemByType) {
    start();
    auto persistent = call("requestFileSystem", {1, 0});
    ASSERT_TRUE(isOK(persistent));
    EXPECT_EQ(persistent->message()["name"], ns::Value("persistent"));
    const ns::Value& root = persistent->message()["root"];
    EXPECT_EQ(root["fullPath"], ns::Value("/"));
    EXPECT_EQ(root["name"], ns::Value("/"));
    EXPECT_EQ(root["isDirectory"], ns::Value(true));
    testsupport::LogCapture log;
    EXPECT_TRUE(isError(call("requestFileSystem", {99, 0}), 1));
    EXPECT_TRUE(isError(call("requestFileSystem", {-1, 0}), 1));
    EXPECT_EQ(log.count("No filesystem of type requested"), 2u);
    auto all = call("requestAllFileSystems", {});
    ASSERT_EQ(all->message().count(), 10u);
    EXPECT_EQ(all->message().at(2)["nativeURL"], ns::Value("assets-library://"));
}

// The type indexes the registry, however long the settings made it: the last one answers,
// the one past it is refused like any other unknown type.
TEST_F(HYBFileTest, RequestFileSystemStopsAtTheLastType) {
    for (const auto& settings :
         {ns::Dictionary{}, ns::Dictionary{{"iosextrafilesystems", "cache"}}}) {
        start(settings);
        const int count = static_cast<int>(plugin().fileSystems().size());
        auto last = call("requestFileSystem", {count - 1, 0});
        ASSERT_TRUE(isOK(last));
        EXPECT_EQ(last->message()["name"], ns::Value(plugin().fileSystems().back()->name()));
        testsupport::LogCapture log;
        EXPECT_TRUE(isError(call("requestFileSystem", {count, 0}), 1));
        EXPECT_TRUE(log.contains("No filesystem of type requested"));
    }
}

TEST_F(HYBFileTest, RequestAllPathsAnswersDirectoryURLs) {
    start();
    auto paths = call("requestAllPaths", {});
    ASSERT_TRUE(isOK(paths));
    const ns::Value& m = paths->message();
    EXPECT_EQ(m.count(), 7u);
    EXPECT_EQ(m["documentsDirectory"],
              ns::Value(ns::URL::fileURLWithPath(documents(), true).absoluteString()));
    EXPECT_EQ(m["dataDirectory"],
              ns::Value(ns::URL::fileURLWithPath(ns::Sandbox::libraryDirectory() + "/NoCloud", true)
                            .absoluteString()));
    EXPECT_TRUE(exists(ns::Sandbox::libraryDirectory() + "/Cloud"));
    EXPECT_EQ(m["applicationDirectory"],
              ns::Value(ns::URL::fileURLWithPath(bundlePath(), true).absoluteString()));
}

TEST_F(HYBFileTest, ResolveAcceptsEscapedAndUnescapedSpellings) {
    start();
    writeFile(documents() + "/a b.txt", "x");
    for (const char* text :
         {"hybfile://localhost/persistent/a b.txt", "hybfile://localhost/persistent/a%20b.txt"}) {
        auto entry = call("resolveLocalFileSystemURI", {text});
        ASSERT_TRUE(isOK(entry)) << text;
        EXPECT_EQ(entry->message()["fullPath"], ns::Value("/a b.txt"));
    }
    EXPECT_TRUE(isError(call("resolveLocalFileSystemURI", {"hybfile://localhost/none/a"}), 5));
    EXPECT_TRUE(isError(call("resolveLocalFileSystemURI", {"%zz"}), 5));
    EXPECT_TRUE(isError(call("resolveLocalFileSystemURI", {42}), 5));
}

TEST_F(HYBFileTest, LocalFilesystemPath) {
    start();
    auto path = call("_getLocalFilesystemPath", {url("persistent", "/x/y.txt")});
    EXPECT_EQ(path->message(), ns::Value(documents() + "/x/y.txt"));
    auto none = call("_getLocalFilesystemPath", {url("nosuchfs", "/x")});
    EXPECT_EQ(none->status(), HYBResultStatusError);
    EXPECT_EQ(none->message(), ns::Value("Cannot resolve URL to a file"));
}

// --- Entries -----------------------------------------------------------------------------------

TEST_F(HYBFileTest, GetDirectoryAddsTheDirectoryFlag) {
    start();
    auto made = call("getDirectory", {url("persistent", "/"), "d1"});
    EXPECT_TRUE(isIOError(made, NOT_FOUND_ERR));  // no "create": only looked up
    std::filesystem::create_directories(documents() + "/d1");
    auto found = call("getDirectory", {url("persistent", "/"), "d1"});
    ASSERT_TRUE(isOK(found));
    EXPECT_EQ(found->message()["isDirectory"], ns::Value(true));
    auto created =
        call("getDirectory", {url("persistent", "/"), "d2", ns::Dictionary{{"create", true}}});
    ASSERT_TRUE(isOK(created));
    EXPECT_TRUE(std::filesystem::is_directory(documents() + "/d2"));
    EXPECT_TRUE(isOK(call("getDirectory", {url("persistent", "/"), "d1", ns::Value()})));
}

TEST_F(HYBFileTest, ActionsOnUnknownFileSystemsAnswerNotFound) {
    start();
    const std::string bad = url("nosuchfs", "/a");
    for (const char* action :
         {"getFile", "getParent", "setMetadata", "remove", "readEntries", "readAsArrayBuffer",
          "readAsText", "write", "truncate", "getFileMetadata"}) {
        EXPECT_TRUE(isIOError(call(action, {bad, "x", 0}), NOT_FOUND_ERR)) << action;
    }
    EXPECT_TRUE(isIOError(call("getFile", {42}), NOT_FOUND_ERR));
    EXPECT_TRUE(isIOError(call("copyTo", {bad, url("persistent", "/"), "n"}), NOT_FOUND_ERR));
    EXPECT_TRUE(isIOError(call("copyTo", {url("persistent", "/"), bad, "n"}), NOT_FOUND_ERR));
    EXPECT_TRUE(isIOError(call("moveTo", {ns::Value(), bad, "n"}), NOT_FOUND_ERR));
}

TEST_F(HYBFileTest, CopyNameIsCheckedBeforeAnythingIsTouched) {
    start();
    writeFile(documents() + "/f", "x");
    EXPECT_TRUE(isIOError(call("copyTo", {url("persistent", "/f"), url("persistent", "/"), "a:b"}),
                          ENCODING_ERR));
    EXPECT_TRUE(
        isIOError(call("moveTo", {url("persistent", "/f"), url("persistent", "/"), ns::Value()}),
                  ENCODING_ERR));
    EXPECT_EQ(readFile(documents() + "/f"), "x");
}

// --- Contents ----------------------------------------------------------------------------------

TEST_F(HYBFileTest, WriteKeepsThePrefixUpToThePosition) {
    start();
    const std::string file = url("persistent", "/w.txt");
    writeFile(documents() + "/w.txt", "123456");
    auto written = call("write", {file, "abc", 0});
    ASSERT_TRUE(isOK(written));
    EXPECT_EQ(written->message(), ns::Value(3));
    EXPECT_EQ(readFile(documents() + "/w.txt"), "abc");
    writeFile(documents() + "/w.txt", "123456");
    call("write", {file, "abc", 2});
    EXPECT_EQ(readFile(documents() + "/w.txt"), "12abc");
    call("write", {file, "z", 7});
    EXPECT_EQ(readFile(documents() + "/w.txt"), std::string("12abc\0\0z", 8));
    call("write", {file, ns::Data::fromString(std::string("\x00\xff", 2)), 1});
    EXPECT_EQ(readFile(documents() + "/w.txt"), std::string("1\x00\xff", 3));
    // A new file is made by the write.
    ASSERT_TRUE(isOK(call("write", {url("persistent", "/new.txt"), "é", 0})));
    EXPECT_EQ(readFile(documents() + "/new.txt"), "é");
}

TEST_F(HYBFileTest, WriteWithBadDataLeavesTheFileAlone) {
    start();
    writeFile(documents() + "/w.txt", "123456");
    auto refused = call("write", {url("persistent", "/w.txt"), 42, 0});
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status(), HYBResultStatusError);
    EXPECT_EQ(refused->message(), ns::Value("Invalid parameter type"));
    EXPECT_EQ(readFile(documents() + "/w.txt"), "123456");
}

TEST_F(HYBFileTest, ReadFormsOfOneFile) {
    start();
    writeFile(documents() + "/data.txt", "hello");
    writeFile(documents() + "/raw", std::string("\x01\x80\xff", 3));
    const std::string data = url("persistent", "/data.txt");
    EXPECT_EQ(call("readAsDataURL", {data, 0, -1})->message(),
              ns::Value("data:text/plain;base64,aGVsbG8="));
    EXPECT_EQ(call("readAsDataURL", {url("persistent", "/raw"), 0, -1})->message(),
              ns::Value("data:*/*;base64,AYD/"));
    auto buffer = call("readAsArrayBuffer", {data, 1, 3});
    EXPECT_EQ(buffer->message()["HYBType"], ns::Value("ArrayBuffer"));
    EXPECT_EQ(buffer->message()["data"], ns::Value("ZWw="));
    // One character per byte, whatever the byte.
    EXPECT_EQ(call("readAsBinaryString", {url("persistent", "/raw"), 0, -1})->message(),
              ns::Value("\x01\u0080\u00ff"));
    EXPECT_TRUE(
        isIOError(call("readAsText", {url("persistent", "/none"), "UTF-8", 0, -1}), NOT_FOUND_ERR));
}

TEST_F(HYBFileTest, TextIsReadAsUTF8Only) {
    start();
    // "aé€😀" : 1 + 2 + 3 + 4 bytes.
    writeFile(documents() + "/u.txt", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    const std::string file = url("persistent", "/u.txt");
    EXPECT_EQ(call("readAsText", {file, "utf-8", 0, -1})->message(),
              ns::Value("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));
    EXPECT_EQ(call("readAsText", {file, "UTF-8", 1, 3})->message(), ns::Value("\xC3\xA9"));
    EXPECT_EQ(call("readAsText", {file, "UTF-8", 3, 6})->message(), ns::Value("\xE2\x82\xAC"));
    // Ranges that cut a character at either edge.
    for (auto [start, end] : {std::pair{0, 2}, std::pair{2, 6}, std::pair{1, 5}, std::pair{6, 9},
                              std::pair{7, -1}, std::pair{4, 10}}) {
        EXPECT_TRUE(isIOError(call("readAsText", {file, "UTF-8", start, end}), ENCODING_ERR))
            << start << ".." << end;
    }
    testsupport::LogCapture log;
    EXPECT_TRUE(isIOError(call("readAsText", {file, "ISO-8859-1", 0, -1}), ENCODING_ERR));
    EXPECT_TRUE(log.contains("Only UTF-8 encodings are currently supported by readAsText"));
}

TEST_F(HYBFileTest, LargeOffsetsAndLengthsAre64Bit) {
    start();
    writeFile(documents() + "/sparse", "");
    const int64_t beyond4G = (int64_t{1} << 32) + 5;
    auto truncated = call("truncate", {url("persistent", "/sparse"), beyond4G});
    ASSERT_TRUE(isOK(truncated));
    EXPECT_EQ(truncated->message(), ns::Value(beyond4G));
    EXPECT_EQ(std::filesystem::file_size(documents() + "/sparse"), static_cast<uint64_t>(beyond4G));
    ASSERT_TRUE(isOK(call("write", {url("persistent", "/sparse"), "tail", beyond4G - 2})));
    EXPECT_EQ(
        call("readAsText", {url("persistent", "/sparse"), "UTF-8", beyond4G - 3, -1})->message(),
        ns::Value(std::string("\0tail", 5)));
}

TEST_F(HYBFileTest, PlainPathsAndTheVolume) {
    start();
    writeFile(documents() + "/e.txt", "x");
    EXPECT_EQ(call("testFileExists", {documents() + "/e.txt"})->message(), ns::Value(1));
    EXPECT_EQ(
        call("testFileExists", {ns::URL::fileURLWithPath(documents() + "/e.txt").absoluteString()})
            ->message(),
        ns::Value(0));
    EXPECT_EQ(call("testDirectoryExists", {documents()})->message(), ns::Value(1));
    EXPECT_EQ(call("testDirectoryExists", {documents() + "/e.txt"})->message(), ns::Value(0));
    auto free = call("getFreeDiskSpace", {});
    ASSERT_TRUE(free->message().isString());
    const std::string digits = *free->message().string();
    EXPECT_FALSE(digits.empty());
    EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos);
    ns::InjectedFaults::add("statvfs", EIO);
    EXPECT_EQ(call("getFreeDiskSpace", {})->message(), ns::Value("0"));
}

// --- What the page can reach ------------------------------------------------------------------

class HYBFileReachTest : public HYBFileTest {
protected:
    void SetUp() override {
        HYBFileTest::SetUp();
        start();
        outside_ = (dir_ / "outside.txt").string();
        writeFile(outside_, "private");
        secret_ = ns::Sandbox::keychainDirectory() + "/item";
        writeFile(secret_, "secret");
    }
    std::vector<std::string> listing(const std::string& fullPath) {
        std::vector<std::string> names;
        auto result = call("readEntries", {url("root", fullPath)});
        if (!isOK(result)) return names;
        for (const auto& entry : *result->message().array()) {
            names.push_back(*entry["name"].string());
        }
        return names;
    }
    std::string outside_;
    std::string secret_;
};

TEST_F(HYBFileReachTest, RootFileSystemReadsWhatAnAppMaySeeOnly) {
    std::filesystem::create_symlink(outside_, documents() + "/link.txt");
    EXPECT_TRUE(isOK(call("readAsText", {url("root", "/etc/hosts"), "UTF-8", 0, -1})));
    writeFile(bundlePath() + "/www/a.txt", "bundled");
    EXPECT_EQ(
        call("readAsText", {url("root", bundlePath() + "/www/a.txt"), "UTF-8", 0, -1})->message(),
        ns::Value("bundled"));
    for (const std::string& hidden :
         {url("root", outside_), url("root", secret_), url("root", "/proc/self/environ"),
          url("persistent", "/link.txt"), ns::URL::fileURLWithPath(outside_).absoluteString()}) {
        EXPECT_TRUE(isIOError(call("readAsText", {hidden, "UTF-8", 0, -1}), NOT_FOUND_ERR))
            << hidden;
        EXPECT_NE(call("resolveLocalFileSystemURI", {hidden})->status(), HYBResultStatusOK)
            << hidden;
        EXPECT_TRUE(
            isIOError(call("copyTo", {hidden, url("persistent", "/"), "copy.txt"}), NOT_FOUND_ERR))
            << hidden;
    }
    EXPECT_FALSE(exists(documents() + "/copy.txt"));
    EXPECT_TRUE(isIOError(call("getFile", {url("root", dir_.str()), "outside.txt", ns::Value()}),
                          NOT_FOUND_ERR));
    // Nothing tells the page whether such a file exists.
    for (const std::string& path : {outside_, secret_, std::string("/proc/self")}) {
        EXPECT_EQ(call("testFileExists", {path})->message(), ns::Value(0)) << path;
    }
    EXPECT_EQ(call("testDirectoryExists", {ns::Sandbox::keychainDirectory()})->message(),
              ns::Value(0));
}

TEST_F(HYBFileReachTest, ListingsShowOnlyTheWayToWhatIsReadable) {
    auto top = listing("/");
    for (const char* shown : {"etc", "usr"}) {
        EXPECT_NE(std::find(top.begin(), top.end(), shown), top.end()) << shown;
    }
    for (const char* hidden : {"proc", "sys", "dev", "root"}) {
        EXPECT_EQ(std::find(top.begin(), top.end(), hidden), top.end()) << hidden;
    }
    // Above the container only the way down to it shows: not the keychain, not the rest.
    EXPECT_EQ(listing(ns::Sandbox::root()), std::vector<std::string>{"Container"});
    auto besideSandbox = listing(dir_.str());
    std::sort(besideSandbox.begin(), besideSandbox.end());
    EXPECT_EQ(besideSandbox, (std::vector<std::string>{"App", "sandbox"}));
}

TEST_F(HYBFileReachTest, NeitherTheContainerNorAnyRootCanBeRemoved) {
    writeFile(documents() + "/keep", "x");
    writeFile(ns::Sandbox::cachesDirectory() + "/cached", "c");
    const std::string home = ns::Sandbox::homeDirectory();
    for (const std::string& target :
         {url("root", home), url("root", home + "/"), url("root", documents() + "/.."),
          url("root", documents()), url("library", "/Caches"), url("documents", "/NoCloud"),
          url("root", temporary())}) {
        for (const char* action : {"remove", "removeRecursively"}) {
            auto result = call(action, {target});
            EXPECT_TRUE(isIOError(result, NO_MODIFICATION_ALLOWED_ERR)) << action << " " << target;
        }
        EXPECT_TRUE(isIOError(call("moveTo", {target, url("temporary", "/"), "moved"}),
                              NO_MODIFICATION_ALLOWED_ERR))
            << target;
    }
    EXPECT_EQ(readFile(documents() + "/keep"), "x");
    EXPECT_EQ(readFile(ns::Sandbox::cachesDirectory() + "/cached"), "c");
    EXPECT_TRUE(exists(documents() + "/NoCloud"));
}

// --- Concurrency and life time ---------------------------------------------------------------

TEST_F(HYBFileTest, WritesToOneFileDoNotInterleave) {
    start();
    const std::string file = url("persistent", "/shared.txt");
    const std::string a(1 << 20, 'a');
    const std::string b(1 << 20, 'b');
    std::vector<HYBInvokedUrlCommand> commands;
    for (int i = 0; i < 8; ++i) {
        commands.emplace_back(ns::Array{file, i % 2 ? a : b, 0}, "W" + std::to_string(i), "File",
                              "write");
    }
    for (const auto& command : commands) plugin().performAction("write", command);
    loop().runUntilIdle();
    EXPECT_EQ(resultCount(), 8u);
    const std::string contents = readFile(documents() + "/shared.txt");
    EXPECT_TRUE(contents == a || contents == b) << contents.size();
}

TEST_F(HYBFileTest, ResultsOfAGonePluginAreDropped) {
    start();
    writeFile(documents() + "/r.txt", "x");
    HYBInvokedUrlCommand command(ns::Array{url("persistent", "/r.txt"), 0, -1}, "R1", "File",
                                 "readAsArrayBuffer");
    // The plug-in goes while its read waits for the background queue.
    delegate_->holdBackground();
    plugin().performAction("readAsArrayBuffer", command);
    plugin_.reset();
    delegate_->releaseBackground();
    loop().runUntilIdle();
    EXPECT_EQ(resultCount(), 0u);
}

}  // namespace
