// How the platform's file failures reach the page as file error codes, and how changes outside
// the application's container are refused. Permissions do not stop root, so failures come from
// the file manager's fault seam.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "platform/ns/FileManager.h"
#include "platform/testing/InjectedFaults.h"
#include "plugins/device_storage/HYBFileSystem.h"
#include "tests/plugins/device_storage/FileTestFixture.h"
#include "tests/support/LogCapture.h"

namespace {

using filetest::isError;
using filetest::isIOError;
using filetest::isOK;

class HYBFileErrorCodeTest : public filetest::FileFixture {
protected:
    void SetUp() override {
        FileFixture::SetUp();
        start();
        std::filesystem::create_directories(documents() + "/dir");
        writeFile(documents() + "/f.txt", "contents");
    }
};

struct FaultCase {
    const char* operation;
    int error;
    const char* action;
    int expectedStatus;
    int expectedCode;
};

void PrintTo(const FaultCase& c, std::ostream* out) {
    *out << c.action << " with " << c.operation << " failing (errno " << c.error << ")";
}

class HYBFileFaultTest : public HYBFileErrorCodeTest,
                         public ::testing::WithParamInterface<FaultCase> {
protected:
    ns::Array arguments(const std::string& action) {
        const std::string file = url("persistent", "/f.txt");
        const std::string dir = url("persistent", "/dir");
        if (action == "copyTo" || action == "moveTo") return {file, url("persistent", "/"), "n"};
        if (action == "copyDir") return {dir, url("persistent", "/"), "n"};
        if (action == "remove" || action == "getFileMetadata") return {file};
        if (action == "getDirectory")
            return {url("persistent", "/"), "newdir", ns::Dictionary{{"create", true}}};
        if (action == "write") return {file, "more", 3};
        if (action == "truncate") return {file, 2};
        return {};
    }
};

TEST_P(HYBFileFaultTest, PlatformFailureBecomesTheFileErrorCode) {
    const FaultCase& c = GetParam();
    ns::InjectedFaults::add(c.operation, c.error);
    const std::string action = c.action == std::string("copyDir") ? "copyTo" : c.action;
    auto result = call(action, arguments(c.action));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status(), static_cast<unsigned>(c.expectedStatus));
    EXPECT_EQ(result->message(), ns::Value(c.expectedCode)) << result->message().description();
    EXPECT_EQ(readFile(documents() + "/f.txt"), "contents");
}

INSTANTIATE_TEST_SUITE_P(
    Table, HYBFileFaultTest,
    ::testing::Values(
        // Copies and moves: out of space 10, no permission 6, read failure 4, anything else 9.
        FaultCase{"write", ENOSPC, "copyTo", HYBResultStatusIOError, QUOTA_EXCEEDED_ERR},
        FaultCase{"mkdir", EACCES, "copyDir", HYBResultStatusIOError, NO_MODIFICATION_ALLOWED_ERR},
        FaultCase{"read", EIO, "copyTo", HYBResultStatusIOError, NOT_READABLE_ERR},
        FaultCase{"write", EIO, "copyTo", HYBResultStatusIOError, INVALID_MODIFICATION_ERR},
        FaultCase{"rename", EACCES, "moveTo", HYBResultStatusIOError, NO_MODIFICATION_ALLOWED_ERR},
        FaultCase{"rename", EBUSY, "moveTo", HYBResultStatusIOError, INVALID_MODIFICATION_ERR},
        // Removal: missing 1, no permission 6, anything else 3.
        FaultCase{"unlink", EACCES, "remove", HYBResultStatusIOError, NO_MODIFICATION_ALLOWED_ERR},
        FaultCase{"unlink", ENOENT, "remove", HYBResultStatusIOError, NOT_FOUND_ERR},
        FaultCase{"unlink", EBUSY, "remove", HYBResultStatusIOError, ABORT_ERR},
        // Metadata: missing 1, anything else 3, as bare error statuses.
        FaultCase{"stat", EACCES, "getFileMetadata", HYBResultStatusError, ABORT_ERR},
        FaultCase{"stat", ENOENT, "getFileMetadata", HYBResultStatusError, NOT_FOUND_ERR},
        // Creating a folder fails with 3.
        FaultCase{"mkdir", EACCES, "getDirectory", HYBResultStatusIOError, ABORT_ERR},
        // A truncation that the platform refuses says so.
        FaultCase{"truncate", EACCES, "truncate", HYBResultStatusIOError,
                  NO_MODIFICATION_ALLOWED_ERR}));

TEST_F(HYBFileErrorCodeTest, FailedWriteAnswersNine) {
    // The cut to the position happens; the append then fails for lack of space.
    ns::InjectedFaults::add("write", ENOSPC);
    auto result = call("write", {url("persistent", "/f.txt"), "more", 3});
    EXPECT_TRUE(isError(result, INVALID_MODIFICATION_ERR));
    EXPECT_EQ(readFile(documents() + "/f.txt"), "con");
}

TEST_F(HYBFileErrorCodeTest, FailuresAreLogged) {
    testsupport::LogCapture log;
    ns::InjectedFaults::add("unlink", EACCES);
    call("remove", {url("persistent", "/f.txt")});
    EXPECT_TRUE(log.contains("error removing filesystem entry at " + documents() + "/f.txt"));
    ns::InjectedFaults::add("mkdir", EACCES);
    call("getDirectory", {url("persistent", "/"), "x", ns::Dictionary{{"create", true}}});
    EXPECT_TRUE(log.contains("error creating directory: "));
    call("getFileMetadata", {url("persistent", "/none")});
    EXPECT_TRUE(log.contains("error getting metadata: "));
}

TEST_F(HYBFileErrorCodeTest, QuotaIsCheckedAgainstTheFreeSpace) {
    EXPECT_TRUE(isIOError(call("requestFileSystem", {1, INT64_MAX}), QUOTA_EXCEEDED_ERR));
    // A negative size compares as a huge unsigned one.
    EXPECT_TRUE(isIOError(call("requestFileSystem", {1, -1}), QUOTA_EXCEEDED_ERR));
    EXPECT_TRUE(isOK(call("requestFileSystem", {1, 0})));
}

// --- Outside the container ---------------------------------------------------------------------

class HYBFileContainerTest : public HYBFileErrorCodeTest {
protected:
    void SetUp() override {
        HYBFileErrorCodeTest::SetUp();
        bundleFile = bundlePath() + "/www/index.html";
        original = readFile(bundleFile);
    }
    std::string bundleFile;
    std::string original;
};

TEST_F(HYBFileContainerTest, BundleAndDeviceAreReadOnly) {
    const std::string inBundle = url("bundle", "/www/index.html");
    const std::string viaRoot = url("root", bundleFile);
    EXPECT_TRUE(isError(call("write", {inBundle, "x", 0}), INVALID_MODIFICATION_ERR));
    EXPECT_TRUE(isError(call("write", {viaRoot, "x", 0}), INVALID_MODIFICATION_ERR));
    EXPECT_TRUE(isIOError(call("truncate", {inBundle, 0}), NO_MODIFICATION_ALLOWED_ERR));
    EXPECT_TRUE(isIOError(call("remove", {inBundle}), NO_MODIFICATION_ALLOWED_ERR));
    EXPECT_TRUE(
        isIOError(call("removeRecursively", {url("bundle", "/www")}), NO_MODIFICATION_ALLOWED_ERR));
    EXPECT_TRUE(isIOError(call("moveTo", {inBundle, url("persistent", "/"), "moved"}),
                          NO_MODIFICATION_ALLOWED_ERR));
    EXPECT_TRUE(
        isIOError(call("copyTo", {url("persistent", "/f.txt"), url("bundle", "/www"), "planted"}),
                  NO_MODIFICATION_ALLOWED_ERR));
    EXPECT_TRUE(isIOError(
        call("getFile", {url("bundle", "/www"), "planted", ns::Dictionary{{"create", true}}}),
        ABORT_ERR));
    auto metadata = call("setMetadata", {inBundle, ns::Dictionary{{"com.apple.MobileBackup", 1}}});
    EXPECT_EQ(metadata->status(), HYBResultStatusError);
    EXPECT_EQ(readFile(bundleFile), original);
    EXPECT_FALSE(exists(bundlePath() + "/www/planted"));
    EXPECT_FALSE(exists(documents() + "/moved"));

    // Reading and copying out of the bundle stay possible.
    ASSERT_TRUE(isOK(call("copyTo", {inBundle, url("persistent", "/"), "copied.html"})));
    EXPECT_EQ(readFile(documents() + "/copied.html"), original);
    EXPECT_EQ(call("readAsText", {viaRoot, "utf-8", 0, -1})->message(), ns::Value(original));
}

TEST_F(HYBFileContainerTest, LinksOutOfTheContainerDoNotCarryWrites) {
    std::filesystem::create_symlink(bundleFile, documents() + "/link.html");
    EXPECT_TRUE(isError(call("write", {url("persistent", "/link.html"), "x", 0}),
                        INVALID_MODIFICATION_ERR));
    EXPECT_TRUE(isIOError(call("truncate", {url("persistent", "/link.html"), 0}),
                          NO_MODIFICATION_ALLOWED_ERR));
    EXPECT_EQ(readFile(bundleFile), original);
}

}  // namespace
