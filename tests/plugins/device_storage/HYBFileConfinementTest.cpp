// What another local process can do to the page's files while the page works on them: swap a
// folder for a link to the outside between the plug-in's check and its open, or race a change
// of its own against a background write. And what a rewrite keeps of the file it replaces.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <future>
#include <thread>

#include "bridge/HYBInvokedUrlCommand.h"
#include "platform/ns/FileManager.h"
#include "platform/testing/InjectedFaults.h"
#include "plugins/device_storage/HYBFileLocks.h"
#include "plugins/device_storage/HYBFileSystem.h"
#include "plugins/device_storage/HYBLocalFilesystem.h"
#include "tests/plugins/device_storage/FileTestFixture.h"

namespace {

namespace fs = std::filesystem;
using filetest::isError;
using filetest::isIOError;
using filetest::isOK;

class HYBFileConfinementTest : public filetest::FileFixture {
protected:
    void SetUp() override {
        FileFixture::SetUp();
        start();
        outside_ = (dir_ / "outside").string();
        fs::create_directories(outside_);
        fs::create_directories(documents() + "/dir");
        writeFile(documents() + "/dir/f.txt", "inside");
        writeFile(outside_ + "/f.txt", "outside");
    }

    // Puts a link to the outside folder where the folder "dir" was.
    void swapDirForLink() {
        fs::rename(documents() + "/dir", documents() + "/dir.real");
        fs::create_directory_symlink(outside_, documents() + "/dir");
    }

    std::string outside_;
};

// --- Check, then open ----------------------------------------------------------------------

// The swap comes at the very moment the plug-in opens, after every check of the path.
TEST_F(HYBFileConfinementTest, AFolderSwappedForALinkAtTheOpenIsNotReadThrough) {
    ns::InjectedFaults::at("open", [this] { swapDirForLink(); });
    auto read = call("readAsText", {url("persistent", "/dir/f.txt"), "UTF-8", 0, -1});
    EXPECT_TRUE(isIOError(read, NOT_FOUND_ERR)) << read->message().description();
}

TEST_F(HYBFileConfinementTest, AFolderSwappedForALinkAtTheOpenIsNotWrittenThrough) {
    // A write at a position cuts the file there first, then appends: both open it.
    ns::InjectedFaults::at("open", [this] { swapDirForLink(); });
    auto write = call("write", {url("persistent", "/dir/f.txt"), "X", 2});
    EXPECT_EQ(write->status(), HYBResultStatusError);
    fs::remove(documents() + "/dir");
    fs::rename(documents() + "/dir.real", documents() + "/dir");
    ns::InjectedFaults::at("open", [this] { swapDirForLink(); });
    EXPECT_TRUE(isIOError(call("truncate", {url("persistent", "/dir/f.txt"), 1}),
                          NO_MODIFICATION_ALLOWED_ERR));
    EXPECT_EQ(readFile(outside_ + "/f.txt"), "outside");
    // The backup mark goes on the file that was checked, or nowhere.
    fs::remove(documents() + "/dir");
    fs::rename(documents() + "/dir.real", documents() + "/dir");
    ns::InjectedFaults::at("setxattr", [this] { swapDirForLink(); });
    call("setMetadata",
         {url("persistent", "/dir/f.txt"), ns::Dictionary{{"com.apple.MobileBackup", 1}}});
    EXPECT_FALSE(ns::FileManager::defaultManager().isExcludedFromBackup(outside_ + "/f.txt"));
}

// Another process keeps exchanging the folder with a link to the outside while the page reads,
// rewrites, appends and cuts: nothing outside is ever read or changed.
TEST_F(HYBFileConfinementTest, AFolderKeptSwappingForALinkNeverLeadsOut) {
    fs::create_directory_symlink(outside_, documents() + "/swap");
    auto fileSystem = plugin().fileSystemByName("persistent");
    const HYBFilesystemURL file(url("persistent", "/dir/f.txt"));
    std::atomic<bool> stop{false};
    std::atomic<int> swaps{0};
    std::thread swapper([&] {
        const std::string dir = documents() + "/dir";
        const std::string swap = documents() + "/swap";
        while (!stop) {
            if (::renameat2(AT_FDCWD, dir.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE) == 0) {
                ++swaps;
            }
        }
    });
    int reads = 0;
    for (int i = 0; i < 600 || swaps < 50; ++i) {
        std::optional<ns::Data> got;
        fileSystem->readFileAtURL(file, 0, -1,
                                  [&](std::optional<ns::Data> data, auto, int32_t) { got = data; });
        ASSERT_FALSE(got && got->chars() == "outside") << "read outside after " << i << " reads";
        if (got) ++reads;
        switch (i % 3) {
            case 0:
                (void)fileSystem->writeToFileAtURL(file, ns::Data::fromString("inside"), false);
                break;
            case 1:
                (void)fileSystem->writeToFileAtURL(file, ns::Data::fromString("+"), true);
                break;
            default:
                (void)fileSystem->truncateFileAtURL(file, 6);
        }
    }
    stop = true;
    swapper.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(readFile(outside_ + "/f.txt"), "outside");
    EXPECT_EQ(fs::directory_iterator(outside_)->path().filename(), "f.txt");
}

// --- What a rewrite keeps ------------------------------------------------------------------

TEST_F(HYBFileConfinementTest, AWholeRewriteKeepsModeOwnerAndExtendedAttributes) {
    const std::string path = documents() + "/kept.txt";
    writeFile(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_TRUE(isOK(call("setMetadata", {url("persistent", "/kept.txt"),
                                          ns::Dictionary{{"com.apple.MobileBackup", 1}}})));
    const bool attributes = ::setxattr(path.c_str(), "user.note", "n", 1, 0) == 0;
    const bool privileged = ::geteuid() == 0;
    if (privileged) ASSERT_EQ(::chown(path.c_str(), 4321, 4321), 0);

    ASSERT_TRUE(isOK(call("write", {url("persistent", "/kept.txt"), "new contents", 0})));
    EXPECT_EQ(readFile(path), "new contents");
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    if (privileged) {
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 4321u);
    }
    EXPECT_TRUE(ns::FileManager::defaultManager().isExcludedFromBackup(path));
    if (!attributes) GTEST_SKIP() << "the file system keeps no extended attributes";
    char value[8] = {};
    EXPECT_EQ(::getxattr(path.c_str(), ns::kExcludeFromBackupAttribute, value, sizeof value), 1);
    EXPECT_EQ(::getxattr(path.c_str(), "user.note", value, sizeof value), 1);
}

TEST_F(HYBFileConfinementTest, OnlyARegularFileIsWrittenOver) {
    const std::string pipe = documents() + "/pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    fs::create_directories(documents() + "/folder/inner");
    for (const char* name : {"/pipe", "/folder"}) {
        EXPECT_TRUE(
            isError(call("write", {url("persistent", name), "x", 0}), INVALID_MODIFICATION_ERR))
            << name;
        EXPECT_TRUE(
            isError(call("write", {url("persistent", name), "x", 1}), INVALID_MODIFICATION_ERR))
            << name;
    }
    struct stat st;
    ASSERT_EQ(::lstat(pipe.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_TRUE(fs::is_directory(documents() + "/folder/inner"));
}

// --- Paths the page hands over -------------------------------------------------------------

TEST(HYBFileNulTest, ANulByteConfinesNoPath) {
    for (std::string_view path :
         {std::string_view("/a.txt\0", 7), std::string_view("/secret.txt\0.png", 16),
          std::string_view("\0", 1)}) {
        EXPECT_FALSE(HYBLocalFilesystem::confinedFullPath(path)) << path.size();
    }
}

TEST_F(HYBFileConfinementTest, ANulByteInAURLReachesNoFileOfTheShorterName) {
    writeFile(documents() + "/secret.txt", "secret");
    EXPECT_TRUE(
        isIOError(call("readAsText", {url("persistent", "/secret.txt%00.png"), "UTF-8", 0, -1}),
                  NOT_FOUND_ERR));
    auto write = call("write", {url("persistent", "/secret.txt%00/x"), "overwritten", 0});
    EXPECT_NE(write->status(), HYBResultStatusOK);
    EXPECT_EQ(readFile(documents() + "/secret.txt"), "secret");
}

// --- A background write and a change of the same file ---------------------------------------

enum class Change { Truncate, Move, Remove };

class HYBFileLockTest : public HYBFileConfinementTest,
                        public ::testing::WithParamInterface<Change> {};

// The write is held between its cut and its append while the change runs on another thread:
// the change must wait for the write, never run in the middle of it.
TEST_P(HYBFileLockTest, AChangeWaitsForTheBackgroundWriteOfTheFile) {
    const std::string path = documents() + "/dir/f.txt";
    std::promise<void> paused;
    std::promise<void> release;
    auto released = release.get_future().share();
    ns::InjectedFaults::at("truncate", [&] {
        paused.set_value();
        released.wait();
    });
    HYBInvokedUrlCommand command(ns::Array{url("persistent", "/dir/f.txt"), "more", 3}, "W", "File",
                                 "write");
    plugin().performAction("write", command);
    paused.get_future().wait();
    // The write holds the file (once for the write, once more for its cut).
    const int held = HYBFileLocks::users(path);

    auto fileSystem = plugin().fileSystemByName("persistent");
    const HYBFilesystemURL file(url("persistent", "/dir/f.txt"));
    std::atomic<bool> done{false};
    std::thread change([&] {
        switch (GetParam()) {
            case Change::Truncate:
                (void)fileSystem->truncateFileAtURL(file, 1);
                break;
            case Change::Move:
                fileSystem->copyFileToURL(HYBFilesystemURL(url("persistent", "/")), "moved.txt",
                                          fileSystem, file, false, [](auto) {});
                break;
            case Change::Remove:
                (void)fileSystem->removeFileAtURL(file);
                break;
        }
        done = true;
    });
    // Until the change either waits for the file or has run through.
    while (!done && HYBFileLocks::users(path) <= held) std::this_thread::yield();
    const bool ranDuringTheWrite = done;
    release.set_value();
    change.join();
    loop().runUntilIdle();
    EXPECT_FALSE(ranDuringTheWrite);
    switch (GetParam()) {
        case Change::Truncate:
            EXPECT_EQ(readFile(path), "i");
            break;
        case Change::Move:
            EXPECT_EQ(readFile(documents() + "/moved.txt"), "insmore");
            EXPECT_FALSE(exists(path));
            break;
        case Change::Remove:
            EXPECT_FALSE(exists(path));
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Changes, HYBFileLockTest,
                         ::testing::Values(Change::Truncate, Change::Move, Change::Remove),
                         [](const auto& info) {
                             switch (info.param) {
                                 case Change::Truncate:
                                     return "Truncate";
                                 case Change::Move:
                                     return "Move";
                                 default:
                                     return "Remove";
                             }
                         });

// --- Copies ---------------------------------------------------------------------------------

TEST_F(HYBFileConfinementTest, AFolderIsNotCopiedIntoItselfAtAll) {
    fs::create_directories(documents() + "/a/b/c");
    fs::create_directory_symlink(documents() + "/a/b", documents() + "/link");
    // Refused before anything is made: a copy that began would copy its own copy.
    std::atomic<int> made{0};
    for (int i = 0; i < 4; ++i) ns::InjectedFaults::at("mkdir", [&] { ++made; });
    for (const auto& [into, name] : std::vector<std::pair<std::string, std::string>>{
             {"/a/b/c", "b"}, {"/a/b", "b"}, {"/link/c", "b2"}}) {
        EXPECT_TRUE(
            isIOError(call("copyTo", {url("persistent", "/a/b"), url("persistent", into), name}),
                      INVALID_MODIFICATION_ERR))
            << into;
    }
    EXPECT_EQ(made, 0);
    EXPECT_FALSE(exists(documents() + "/a/b/c/b"));
    EXPECT_FALSE(exists(documents() + "/a/b/b"));
}

}  // namespace
