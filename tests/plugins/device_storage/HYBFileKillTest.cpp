// A write that dies with its process (SIGKILL at some instant) leaves the file as a cut to
// the write's position followed by some prefix of the new bytes, or untouched: nothing else.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "plugins/device_storage/HYBFileSystem.h"
#include "tests/plugins/device_storage/FileTestFixture.h"

namespace {

constexpr size_t kPosition = size_t{1} << 20;
constexpr size_t kNewBytes = size_t{64} << 20;

std::string pattern(size_t length, unsigned seed) {
    std::string out(length, '\0');
    for (size_t i = 0; i < length; ++i) out[i] = static_cast<char>((i * 131 + seed) % 251);
    return out;
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
    const ns::Data bytes = ns::Data::fromString(data);

    int progress[2];
    ASSERT_EQ(::pipe(progress), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(progress[0]);
        char mark = 's';
        if (::write(progress[1], &mark, 1) != 1) ::_exit(1);
        // What the page's write does: cut to the position, then append.
        fs->truncateFileAtURL(url, kPosition);
        fs->writeToFileAtURL(url, bytes, true);
        mark = 'd';
        if (::write(progress[1], &mark, 1) != 1) ::_exit(1);
        for (;;) ::pause();
    }
    ::close(progress[1]);
    char mark = 0;
    ASSERT_EQ(::read(progress[0], &mark, 1), 1);
    ASSERT_EQ(mark, 's');
    if (waitForAppend) {
        // Until the append is well under way (or the child has finished it).
        for (;;) {
            struct stat st;
            if (::stat(path.c_str(), &st) == 0 &&
                static_cast<size_t>(st.st_size) > kPosition + (size_t{1} << 20)) {
                break;
            }
            pollfd done{progress[0], POLLIN, 0};
            if (::poll(&done, 1, 0) == 1) break;
        }
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(progress[0]);

    const std::string after = readFile(path);
    if (after == before) return;  // killed before the cut
    ASSERT_GE(after.size(), kPosition);
    ASSERT_LE(after.size(), kPosition + kNewBytes);
    EXPECT_EQ(after.compare(0, kPosition, before, 0, kPosition), 0) << "the kept prefix changed";
    EXPECT_EQ(after.compare(kPosition, std::string::npos, data, 0, after.size() - kPosition), 0)
        << "the appended bytes are not a prefix of the new data";
    if (waitForAppend) EXPECT_GT(after.size(), kPosition + (size_t{1} << 20));
}

INSTANTIATE_TEST_SUITE_P(Instants, HYBFileKillTest, ::testing::Values(false, true),
                         [](const auto& info) {
                             return info.param ? "DuringTheAppend" : "AtOnce";
                         });

}  // namespace
