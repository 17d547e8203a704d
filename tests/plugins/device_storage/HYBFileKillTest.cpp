// A write that dies with its process (SIGKILL at some instant) leaves the file as a cut to
// the write's position followed by some prefix of the new bytes, or untouched: nothing else.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

#include "platform/ns/Sandbox.h"
#include "platform/ns/TemporaryFiles.h"
#include "plugins/device_storage/HYBFileSystem.h"
#include "plugins/device_storage/HYBLocalFilesystem.h"
#include "tests/plugins/device_storage/FileTestFixture.h"
#include "tests/support/ChildProcess.h"

namespace {

constexpr size_t kPosition = size_t{1} << 20;
constexpr size_t kNewBytes = size_t{64} << 20;

std::string pattern(size_t length, unsigned seed) {
    std::string out(length, '\0');
    for (size_t i = 0; i < length; ++i) out[i] = static_cast<char>((i * 131 + seed) % 251);
    return out;
}

// The persistent file system of the test's host, made again in a child: the sandbox args[0],
// the file system's root args[1]. The file to write is the URL args[2].
std::shared_ptr<HYBLocalFilesystem> parentsPersistentFileSystem(
    const std::vector<std::string>& args) {
    if (!ns::Sandbox::configure(args.at(0)).ok()) ::_exit(1);
    return std::make_shared<HYBLocalFilesystem>("persistent", args.at(1));
}

// Says 's' on the pipe, runs `write`, says 'd', then waits to be killed.
[[noreturn]] void markAround(int progress, const std::function<void()>& write) {
    char mark = 's';
    if (::write(progress, &mark, 1) != 1) ::_exit(1);
    write();
    mark = 'd';
    if (::write(progress, &mark, 1) != 1) ::_exit(1);
    for (;;) ::pause();
}

// What the page's write at a position does: cut to the position, then append.
[[noreturn]] void cutThenAppend(int progress, const std::vector<std::string>& args) {
    auto fs = parentsPersistentFileSystem(args);
    const HYBFilesystemURL url(args.at(2));
    const ns::Data bytes = ns::Data::fromString(pattern(kNewBytes, 7));
    markAround(progress, [&] {
        fs->truncateFileAtURL(url, kPosition);
        fs->writeToFileAtURL(url, bytes, true);
    });
}
const testsupport::ChildRegistration kCutter("HYBFileKillTest.cutThenAppend", &cutThenAppend);

[[noreturn]] void rewriteWhole(int progress, const std::vector<std::string>& args) {
    auto fs = parentsPersistentFileSystem(args);
    const HYBFilesystemURL url(args.at(2));
    const ns::Data bytes = ns::Data::fromString(pattern(kNewBytes / 2 + 4096, 9));
    markAround(progress, [&] { fs->writeToFileAtURL(url, bytes, false); });
}
const testsupport::ChildRegistration kRewriter("HYBFileKillTest.rewriteWhole", &rewriteWhole);

// Starts the writer registered as `name` on the file at `url` of the persistent file system
// `fs`. Answers the child's pid (-1 on failure) and the pipe's read end, once 's' has come.
std::pair<pid_t, int> startWriter(const char* name, const std::shared_ptr<HYBFileSystem>& fs,
                                  const std::string& url) {
    int progress[2];
    if (::pipe(progress) != 0) return {-1, -1};
    const auto local = std::dynamic_pointer_cast<HYBLocalFilesystem>(fs);
    const pid_t child = local ? testsupport::startChild(name, progress[1],
                                                        {ns::Sandbox::root(), local->fsRoot(), url})
                              : -1;
    ::close(progress[1]);
    char mark = 0;
    if (child < 0 || ::read(progress[0], &mark, 1) != 1 || mark != 's') return {-1, progress[0]};
    return {child, progress[0]};
}

// Whether the writer has said that it is done.
bool writerDone(int progress) {
    pollfd done{progress, POLLIN, 0};
    return ::poll(&done, 1, 0) == 1;
}

// Kills the writer and reaps it.
bool killWriter(pid_t child, int progress) {
    ::kill(child, SIGKILL);
    int status = 0;
    const bool reaped = ::waitpid(child, &status, 0) == child;
    ::close(progress);
    return reaped;
}

class HYBFileKillTest : public filetest::FileFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(HYBFileKillTest, KilledWriteTearsNoMoreThanCutThenAppend) {
    const bool waitForAppend = GetParam();
    start();
    const std::string path = documents() + "/k.bin";
    const std::string before = pattern(kPosition + 100, 1);
    const std::string data = pattern(kNewBytes, 7);
    writeFile(path, before);
    auto fs = plugin().fileSystemByName("persistent");
    const HYBFilesystemURL url(filetest::FileFixture::url("persistent", "/k.bin"));

    // What the page's write does: cut to the position, then append.
    const auto [child, progress] =
        startWriter("HYBFileKillTest.cutThenAppend", fs, url.absoluteURL());
    ASSERT_GT(child, 0);
    if (waitForAppend) {
        // Until the append is well under way (or the child has finished it).
        for (;;) {
            struct stat st;
            if (::stat(path.c_str(), &st) == 0 &&
                static_cast<size_t>(st.st_size) > kPosition + (size_t{1} << 20)) {
                break;
            }
            if (writerDone(progress)) break;
        }
    }
    ASSERT_TRUE(killWriter(child, progress));

    const std::string after = readFile(path);
    if (after == before) return;  // killed before the cut
    ASSERT_GE(after.size(), kPosition);
    ASSERT_LE(after.size(), kPosition + kNewBytes);
    EXPECT_EQ(after.compare(0, kPosition, before, 0, kPosition), 0) << "the kept prefix changed";
    EXPECT_EQ(after.compare(kPosition, std::string::npos, data, 0, after.size() - kPosition), 0)
        << "the appended bytes are not a prefix of the new data";
    if (waitForAppend) EXPECT_GT(after.size(), kPosition + (size_t{1} << 20));
}

// A write of the whole file (position 0) that dies leaves the old contents or the new.
TEST_F(HYBFileKillTest, KilledWholeRewriteLeavesOldOrNew) {
    start();
    const std::string path = documents() + "/whole.bin";
    const std::string before = pattern(kNewBytes / 2, 3);
    const std::string data = pattern(kNewBytes / 2 + 4096, 9);
    writeFile(path, before);
    auto fs = plugin().fileSystemByName("persistent");
    const HYBFilesystemURL url(filetest::FileFixture::url("persistent", "/whole.bin"));
    const auto [child, progress] =
        startWriter("HYBFileKillTest.rewriteWhole", fs, url.absoluteURL());
    ASSERT_GT(child, 0);
    // Until the new bytes are being written somewhere in the folder (or the file has changed).
    const auto writing = [&] {
        for (const auto& entry : std::filesystem::directory_iterator(documents())) {
            std::error_code ec;
            const auto size = std::filesystem::file_size(entry.path(), ec);
            if (ec) continue;
            if (entry.path() == path ? size != before.size() : size > (size_t{1} << 20)) {
                return true;
            }
        }
        return false;
    };
    while (!writing()) {
    }
    ASSERT_TRUE(killWriter(child, progress));
    const std::string after = readFile(path);
    EXPECT_TRUE(after == before || after == data) << "a torn file of " << after.size() << " bytes";
}

// A rewrite killed while it fills its temporary file leaves that file behind; what the host
// does at launch takes it away, and the file it was to replace stays whole.
TEST_F(HYBFileKillTest, AKilledRewritesTemporaryFileGoesAtTheNextLaunch) {
    start();
    const std::string path = documents() + "/whole.bin";
    const std::string before = pattern(1000, 5);
    writeFile(path, before);
    auto fs = plugin().fileSystemByName("persistent");
    const HYBFilesystemURL url(filetest::FileFixture::url("persistent", "/whole.bin"));
    const auto temporaries = [&] {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(documents())) {
            const std::string name = entry.path().filename().string();
            if (ns::TemporaryFiles::isTemporaryName(name)) found.push_back(name);
        }
        return found;
    };
    const auto [child, progress] =
        startWriter("HYBFileKillTest.rewriteWhole", fs, url.absoluteURL());
    ASSERT_GT(child, 0);
    // Until the temporary file holds part of the new bytes (or the child has finished).
    for (bool filling = false; !filling;) {
        for (const auto& name : temporaries()) {
            std::error_code ec;
            filling |= std::filesystem::file_size(documents() + "/" + name, ec) > (1u << 20);
        }
        if (writerDone(progress)) break;
    }
    ASSERT_TRUE(killWriter(child, progress));
    if (readFile(path) != before) GTEST_SKIP() << "the rewrite finished before the kill";
    ASSERT_EQ(temporaries().size(), 1u);

    EXPECT_EQ(ns::TemporaryFiles::removeStale(ns::Sandbox::root()), 1u);
    EXPECT_TRUE(temporaries().empty());
    EXPECT_EQ(readFile(path), before);
}

INSTANTIATE_TEST_SUITE_P(Instants, HYBFileKillTest, ::testing::Values(false, true),
                         [](const auto& info) {
                             return info.param ? "DuringTheAppend" : "AtOnce";
                         });

}  // namespace
