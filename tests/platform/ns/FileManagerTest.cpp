#include "platform/ns/FileManager.h"
#include "platform/testing/InjectedFaults.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/platform/ns/SandboxFixture.h"

namespace {

namespace fs = std::filesystem;
using ns::FileManager;

class FileManagerTest : public testsupport::SandboxTest {
protected:
    FileManager& fm = FileManager::defaultManager();

    void write(const std::string& p, const std::string& text) {
        fs::create_directories(fs::path(p).parent_path());
        std::ofstream(p) << text;
    }
    std::string read(const std::string& p) {
        auto data = fm.contentsAtPath(p);
        return data ? std::string(data->chars()) : "<missing>";
    }
    // Names in the folder that a failed or finished operation must not leave behind.
    std::vector<std::string> leftovers(const std::string& dir) {
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(dir)) {
            auto name = e.path().filename().string();
            if (name.find(".tmp-") != std::string::npos ||
                name.find(".moving-") != std::string::npos) {
                found.push_back(name);
            }
        }
        return found;
    }
};

TEST_F(FileManagerTest, ErrorsCarryThePlatformCodeForEachOperationAndErrno) {
    write(path("existing/file"), "x");
    struct Case {
        const char* what;
        const char* faultOp;
        int faultErrno;
        std::function<ns::Status()> run;
        int64_t code;
        int posix;
    };
    auto status = [](auto result) -> ns::Status {
        if (result.ok()) return {};
        return result.error();
    };
    std::vector<Case> cases = {
        {"read of a missing file", nullptr, 0,
         [&] { return status(fm.contentsAtPath(path("nope"))); }, 260, ENOENT},
        {"attributes of a missing file", nullptr, 0,
         [&] { return status(fm.attributesOfItem(path("nope"))); }, 260, ENOENT},
        {"remove of a missing file", nullptr, 0, [&] { return fm.removeItem(path("nope")); }, 4,
         ENOENT},
        {"move of a missing file", nullptr, 0, [&] { return fm.moveItem(path("nope"), path("b")); },
         4, ENOENT},
        {"write into a missing folder", nullptr, 0,
         [&] { return fm.createFile(path("no/such/f"), ns::Data::fromString("x")); }, 4, ENOENT},
        {"directory that exists", nullptr, 0,
         [&] { return fm.createDirectory(path("existing"), false); }, 516, EEXIST},
        {"read without permission", "open", EACCES,
         [&] { return status(fm.contentsAtPath(path("existing/file"))); }, 257, EACCES},
        {"read failing", "read", EIO,
         [&] { return status(fm.contentsAtPath(path("existing/file"))); }, 256, EIO},
        {"write without permission", "open", EACCES,
         [&] { return fm.createFile(path("f"), ns::Data::fromString("x")); }, 513, EACCES},
        {"write out of space", "write", ENOSPC,
         [&] { return fm.createFile(path("f"), ns::Data::fromString("x")); }, 640, ENOSPC},
        {"write failing", "fsync", EIO,
         [&] { return fm.createFile(path("f"), ns::Data::fromString("x")); }, 512, EIO},
        {"remove without permission", "unlink", EPERM,
         [&] { return fm.removeItem(path("existing/file")); }, 513, EPERM},
        {"copy out of space", "write", ENOSPC,
         [&] { return fm.copyItem(path("existing"), path("copy")); }, 640, ENOSPC},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.faultOp) ns::InjectedFaults::add(c.faultOp, c.faultErrno);
        ns::Status result = c.run();
        ns::InjectedFaults::clear();
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().domain(), "NSCocoaErrorDomain");
        EXPECT_EQ(result.error().code(), c.code);
        EXPECT_EQ(FileManager::posixErrno(result.error()), c.posix);
        EXPECT_TRUE(result.error().userInfo().count("NSFilePath"));
        EXPECT_NE(result.error().localizedDescription().find("”"), std::string::npos);
    }
}

TEST_F(FileManagerTest, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    write(path("f"), "old");
    ns::InjectedFaults::add("write", ENOSPC);
    EXPECT_FALSE(fm.createFile(path("f"), ns::Data::fromString("new")).ok());
    EXPECT_EQ(read(path("f")), "old");
    EXPECT_TRUE(leftovers(dir_.str()).empty());

    ASSERT_TRUE(
        fm.createFile(path("f"), ns::Data::fromString("new"), {{ns::kFilePosixPermissions, 0600}})
            .ok());
    EXPECT_EQ(read(path("f")), "new");
    EXPECT_EQ(fm.attributesOfItem(path("f"))->posixPermissions, 0600u);
}

TEST_F(FileManagerTest, CopyIsRecursiveKeepsLinksAsLinksAndRefusesAnExistingTarget) {
    write(path("src/a.txt"), "A");
    write(path("src/sub/b.txt"), "B");
    fs::create_symlink("/etc", path("src/link"));
    ::chmod(path("src/a.txt").c_str(), 0640);

    ASSERT_TRUE(fm.copyItem(path("src"), path("dst")).ok());
    EXPECT_EQ(read(path("dst/a.txt")), "A");
    EXPECT_EQ(read(path("dst/sub/b.txt")), "B");
    EXPECT_TRUE(fs::is_symlink(path("dst/link")));
    EXPECT_EQ(fs::read_symlink(path("dst/link")), "/etc");
    EXPECT_EQ(fm.attributesOfItem(path("dst/a.txt"))->posixPermissions, 0640u);

    write(path("other"), "keep");
    auto refused = fm.copyItem(path("src/a.txt"), path("other"));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code(), 516);
    EXPECT_EQ(read(path("other")), "keep");
}

TEST_F(FileManagerTest, FailedCopyLeavesNoPartialTarget) {
    write(path("src/a"), "A");
    write(path("src/b"), "B");
    ns::InjectedFaults::add("read", EIO);
    auto status = fm.copyItem(path("src"), path("dst"));
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().code(), 256);
    EXPECT_FALSE(fs::exists(path("dst")));
}

TEST_F(FileManagerTest, MoveRenamesAndRefusesAnExistingTarget) {
    write(path("a"), "A");
    write(path("b"), "B");
    auto refused = fm.moveItem(path("a"), path("b"));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code(), 516);
    EXPECT_EQ(read(path("b")), "B");
    EXPECT_EQ(read(path("a")), "A");

    ASSERT_TRUE(fm.moveItem(path("a"), path("c")).ok());
    EXPECT_FALSE(fs::exists(path("a")));
    EXPECT_EQ(read(path("c")), "A");
}

TEST_F(FileManagerTest, MoveAcrossFileSystemsCopiesThenRemovesTheSource) {
    write(path("src/a"), "A");
    write(path("src/deep/b"), "B");
    fs::create_directories(path("to"));
    ns::InjectedFaults::add("rename", EXDEV);
    ASSERT_TRUE(fm.moveItem(path("src"), path("to/moved")).ok());
    EXPECT_FALSE(fs::exists(path("src")));
    EXPECT_EQ(read(path("to/moved/a")), "A");
    EXPECT_EQ(read(path("to/moved/deep/b")), "B");
    EXPECT_TRUE(leftovers(path("to")).empty());
}

TEST_F(FileManagerTest, FailedMoveAcrossFileSystemsKeepsTheSource) {
    write(path("src/a"), "A");
    fs::create_directories(path("to"));
    ns::InjectedFaults::add("rename", EXDEV);
    ns::InjectedFaults::add("write", ENOSPC);
    auto status = fm.moveItem(path("src"), path("to/moved"));
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().code(), 640);
    EXPECT_EQ(read(path("src/a")), "A");
    EXPECT_FALSE(fs::exists(path("to/moved")));
    EXPECT_TRUE(leftovers(path("to")).empty());
}

TEST_F(FileManagerTest, MoveToAnotherRealFileSystemWhenOneIsAtHand) {
    struct stat here, shm;
    if (::stat(dir_.str().c_str(), &here) != 0 || ::stat("/dev/shm", &shm) != 0 ||
        here.st_dev == shm.st_dev || ::access("/dev/shm", W_OK) != 0) {
        GTEST_SKIP() << "no second writable file system";
    }
    std::string target = "/dev/shm/hybtest-move-" + std::to_string(::getpid());
    write(path("f"), "payload");
    ASSERT_TRUE(fm.moveItem(path("f"), target).ok());
    EXPECT_EQ(read(target), "payload");
    EXPECT_FALSE(fs::exists(path("f")));
    fs::remove(target);
}

TEST_F(FileManagerTest, RemoveNeverFollowsSymbolicLinks) {
    write(path("outside/precious"), "keep");
    write(path("tree/file"), "x");
    fs::create_symlink(path("outside"), path("tree/dirlink"));
    fs::create_symlink(path("outside/precious"), path("tree/filelink"));
    fs::create_symlink(path("outside"), path("toplink"));

    ASSERT_TRUE(fm.removeItem(path("toplink")).ok());
    EXPECT_FALSE(fs::exists(fs::symlink_status(path("toplink"))));
    ASSERT_TRUE(fm.removeItem(path("tree")).ok());
    EXPECT_FALSE(fs::exists(path("tree")));
    EXPECT_EQ(read(path("outside/precious")), "keep");
}

TEST_F(FileManagerTest, BackupExclusionUsesTheListWhereExtendedAttributesAreMissing) {
    write(path("doc"), "x");
    write(path("other"), "y");
    ns::InjectedFaults::add("setxattr", ENOTSUP);
    ASSERT_TRUE(fm.setExcludedFromBackup(path("doc"), true).ok());
    ns::InjectedFaults::add("getxattr", ENOTSUP);
    EXPECT_TRUE(fm.isExcludedFromBackup(path("doc")));
    EXPECT_FALSE(fm.isExcludedFromBackup(path("other")));
    EXPECT_TRUE(fs::exists(ns::Sandbox::libraryDirectory() + "/" + ns::kBackupExclusionListName));

    ns::InjectedFaults::add("removexattr", ENOTSUP);
    ASSERT_TRUE(fm.setExcludedFromBackup(path("doc"), false).ok());
    EXPECT_FALSE(fm.isExcludedFromBackup(path("doc")));

    auto missing = fm.setExcludedFromBackup(path("gone"), true);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code(), 4);
}

TEST_F(FileManagerTest, BackupExclusionRoundTripsOnTheRealFileSystem) {
    std::string doc = ns::Sandbox::documentsDirectory() + "/doc";
    write(doc, "x");
    EXPECT_FALSE(fm.isExcludedFromBackup(doc));
    ASSERT_TRUE(fm.setExcludedFromBackup(doc, true).ok());
    EXPECT_TRUE(fm.isExcludedFromBackup(doc));
    ASSERT_TRUE(fm.setExcludedFromBackup(doc, false).ok());
    EXPECT_FALSE(fm.isExcludedFromBackup(doc));
}

TEST_F(FileManagerTest, AttributesListingsAndFolders) {
    write(path("d/b"), "12345");
    write(path("d/.hidden"), "");
    write(path("d/sub/c"), "");
    fs::create_symlink("b", path("d/link"));

    auto attrs = fm.attributesOfItem(path("d/b"));
    ASSERT_TRUE(attrs.ok());
    EXPECT_EQ(attrs->size, 5u);
    EXPECT_EQ(attrs->type, ns::FileType::Regular);
    EXPECT_GT(attrs->modificationDate.timeIntervalSince1970(), 1e9);
    EXPECT_GT(attrs->creationDate.timeIntervalSince1970(), 1e9);
    EXPECT_EQ(fm.attributesOfItem(path("d/link"))->type, ns::FileType::SymbolicLink);
    EXPECT_EQ(fm.attributesOfItem(path("d"))->type, ns::FileType::Directory);

    auto names = fm.contentsOfDirectory(path("d"));
    ASSERT_TRUE(names.ok());
    EXPECT_EQ(*names, (std::vector<std::string>{".hidden", "b", "link", "sub"}));
    auto sub = fm.subpathsOfDirectory(path("d"));
    ASSERT_TRUE(sub.ok());
    EXPECT_EQ(*sub, (std::vector<std::string>{".hidden", "b", "link", "sub", "sub/c"}));
    EXPECT_FALSE(fm.contentsOfDirectory(path("d/b")).ok());

    ASSERT_TRUE(fm.createDirectory(path("x/y/z"), true, {{ns::kFilePosixPermissions, 0750}}).ok());
    EXPECT_TRUE(fm.createDirectory(path("x/y/z"), true).ok());
    bool isDir = false;
    EXPECT_TRUE(fm.fileExists(path("x/y/z"), &isDir));
    EXPECT_TRUE(isDir);
    EXPECT_EQ(fm.attributesOfItem(path("x/y/z"))->posixPermissions, 0750u);
    EXPECT_EQ(fm.createDirectory(path("d/b/q"), true).error().code(), 516);

    auto space = fm.attributesOfFileSystem(dir_.str());
    ASSERT_TRUE(space.ok());
    EXPECT_GT(space->size, 0u);
    EXPECT_LE(space->freeSize, space->size);
    EXPECT_TRUE(fm.isDeletableFile(path("d/b")));
    EXPECT_FALSE(fm.isDeletableFile(path("d/none")));
}

}  // namespace

namespace {

// Exit-time handlers (the flush of user defaults) still describe file errors after the static
// objects made later have gone.
TEST(FileManagerDeathTest, ErrorsCanBeDescribedWhileTheProcessExits) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::atexit([] {
                (void)!ns::FileManager::defaultManager().contentsAtPath("/nonexistent/at-exit");
            });
            (void)!ns::FileManager::defaultManager().contentsAtPath("/nonexistent/now");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
