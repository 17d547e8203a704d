#include "platform/ns/AtomicFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace {

std::string contentsOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

size_t entriesIn(const std::filesystem::path& dir) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

TEST(AtomicFile, WritesReplacesAndReads) {
    testsupport::TempDir dir;
    const std::string path = (dir / "f.bin").string();
    ASSERT_TRUE(ns::writeFileAtomically(path, std::string_view("first")).ok());
    ASSERT_TRUE(ns::writeFileAtomically(path, ns::Data::fromString(std::string("x\0y", 3))).ok());
    auto back = ns::readFile(path);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->chars(), std::string_view("x\0y", 3));
    EXPECT_EQ(entriesIn(dir.path()), 1u);  // no temporary file left behind

    ASSERT_TRUE(ns::writeFileAtomically(path, std::string_view(""), 0600).ok());
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 0);
}

TEST(AtomicFile, FailureLeavesTheOldFileAndNoTemporary) {
    testsupport::TempDir dir;
    const auto target = dir / "target";
    std::filesystem::create_directory(target);
    std::ofstream(target / "keep") << "kept";
    // Renaming a file over a non-empty directory fails after the temporary was written.
    auto over = ns::writeFileAtomically(target.string(), std::string_view("new"));
    ASSERT_FALSE(over.ok());
    EXPECT_EQ(over.error().domain(), "NSPOSIXErrorDomain");
    EXPECT_TRUE(std::filesystem::is_directory(target));
    EXPECT_EQ(contentsOf(target / "keep"), "kept");
    EXPECT_EQ(entriesIn(dir.path()), 1u);

    auto missingDir = ns::writeFileAtomically((dir / "no" / "f").string(), std::string_view("x"));
    ASSERT_FALSE(missingDir.ok());
    EXPECT_EQ(missingDir.error().code(), ENOENT);
    EXPECT_EQ(missingDir.error().userInfo().at("NSFilePath"),
              ns::Value((dir / "no" / "f").string()));
}

TEST(AtomicFile, ReadErrorsCarryErrno) {
    testsupport::TempDir dir;
    auto missing = ns::readFile((dir / "absent").string());
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code(), ENOENT);
    auto directory = ns::readFile(dir.str());
    ASSERT_FALSE(directory.ok());
    EXPECT_EQ(directory.error().code(), EISDIR);
}

const std::string kVersionA(3 << 20, 'a');
const std::string kVersionB = std::string(2 << 20, 'b') + "end";

// The child of SurvivesKillMidWrite: rewrites the file at args[0] for ever, one tick after each.
[[noreturn]] void rewriteUntilKilled(int ready, const std::vector<std::string>& args) {
    for (unsigned i = 0;; ++i) {
        if (!ns::writeFileAtomically(args.at(0), i % 2 ? kVersionA : kVersionB).ok()) ::_exit(2);
        const char tick = 1;
        if (::write(ready, &tick, 1) != 1) ::_exit(3);
    }
}
const testsupport::ChildRegistration kRewriter("AtomicFile.rewriteUntilKilled",
                                               &rewriteUntilKilled);

// A process killed at any instant of a rewrite leaves one whole version of the file.
TEST(AtomicFile, SurvivesKillMidWrite) {
    testsupport::TempDir dir;
    const std::string path = (dir / "state").string();
    const std::string& a = kVersionA;
    const std::string& b = kVersionB;
    ASSERT_TRUE(ns::writeFileAtomically(path, a).ok());

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = testsupport::startChild("AtomicFile.rewriteUntilKilled", ready[1], {path});
    ASSERT_GT(child, 0);
    ::close(ready[1]);
    // Let the child finish a few rewrites, then kill it while it is inside the next one.
    char ticks[3];
    size_t got = 0;
    while (got < sizeof ticks) {
        const ssize_t n = ::read(ready[0], ticks + got, sizeof ticks - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(ready[0]);
    ASSERT_EQ(got, sizeof ticks) << "the child stopped writing early";
    ASSERT_TRUE(WIFSIGNALED(status));

    const std::string now = contentsOf(path);
    EXPECT_TRUE(now == a || now == b) << "torn file of " << now.size() << " bytes";
}

}  // namespace
