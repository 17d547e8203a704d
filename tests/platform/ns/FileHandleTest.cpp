#include "platform/ns/FileHandle.h"
#include "platform/testing/InjectedFaults.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>

#include "tests/platform/ns/SandboxFixture.h"

namespace {

class FileHandleTest : public testsupport::SandboxTest {};

TEST_F(FileHandleTest, ReadsWritesAndTruncates) {
    const std::string file = path("f");
    auto append = ns::FileHandle::fileHandleForAppendingAtPath(file, true);
    ASSERT_TRUE(append);
    ASSERT_TRUE((*append)->writeData(std::string_view("hello world")));
    ASSERT_TRUE((*append)->truncateFileAtOffset(5));
    EXPECT_EQ(*(*append)->offsetInFile(), 5u);
    ASSERT_TRUE((*append)->writeData(std::string_view("!")));
    ASSERT_TRUE((*append)->synchronizeFile());

    auto read = ns::FileHandle::fileHandleForReadingAtPath(file);
    ASSERT_TRUE(read);
    EXPECT_EQ((*read)->attributes()->size, 6u);
    ASSERT_TRUE((*read)->seekToFileOffset(1));
    // A length far beyond the file reads what is there without reserving the length.
    EXPECT_EQ((*read)->readDataOfLength(UINT64_MAX)->chars(), "ello!");
    EXPECT_EQ((*read)->readDataOfLength(10)->chars(), "");
    EXPECT_FALSE(ns::FileHandle::fileHandleForWritingAtPath(path("missing")));
    EXPECT_FALSE(ns::FileHandle::fileHandleForAppendingAtPath(path("missing"), false));
}

TEST_F(FileHandleTest, CreatingTakesOnlyANewFileAndItsMode) {
    const std::string file = path("new");
    auto created = ns::FileHandle::fileHandleForCreatingAtPath(file, 0600);
    ASSERT_TRUE(created);
    ASSERT_TRUE((*created)->writeData(std::string_view("x")));
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    auto again = ns::FileHandle::fileHandleForCreatingAtPath(file, 0600);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().code(), ns::kFileWriteFileExistsError);
    EXPECT_EQ(ns::FileManager::posixErrno(again.error()), EEXIST);
    EXPECT_EQ((*ns::FileHandle::fileHandleForReadingAtPath(file))->readDataOfLength(9)->chars(),
              "x");
}

TEST_F(FileHandleTest, OpeningAFifoDoesNotWait) {
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    {
        auto read = ns::FileHandle::fileHandleForReadingAtPath(path("fifo"));
        ASSERT_TRUE(read);
        EXPECT_EQ((*read)->attributes()->type, ns::FileType::Other);
    }
    // Nobody reads: writing would wait forever, so opening fails at once.
    EXPECT_FALSE(ns::FileHandle::fileHandleForWritingAtPath(path("fifo")));
}

TEST_F(FileHandleTest, SharesTheFileManagersFaultSeam) {
    std::ofstream(path("f")) << "abc";
    ns::InjectedFaults::add("open", EACCES);
    auto refused = ns::FileHandle::fileHandleForReadingAtPath(path("f"));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code(), ns::kFileReadNoPermissionError);

    auto handle = ns::FileHandle::fileHandleForAppendingAtPath(path("f"), false);
    ASSERT_TRUE(handle);
    ns::InjectedFaults::add("write", ENOSPC);
    EXPECT_EQ((*handle)->writeData(std::string_view("x")).error().code(),
              ns::kFileWriteOutOfSpaceError);
    ns::InjectedFaults::add("truncate", EACCES);
    EXPECT_EQ((*handle)->truncateFileAtOffset(0).error().code(), ns::kFileWriteNoPermissionError);
    ns::InjectedFaults::add("fsync", EIO);
    EXPECT_FALSE((*handle)->synchronizeFile());
    auto reader = ns::FileHandle::fileHandleForReadingAtPath(path("f"));
    ns::InjectedFaults::add("read", EIO);
    EXPECT_EQ((*reader)->readDataOfLength(3).error().code(), ns::kFileReadUnknownError);
    EXPECT_EQ((*reader)->readDataOfLength(3)->chars(), "abc");
}

}  // namespace
