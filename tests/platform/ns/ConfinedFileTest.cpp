#include "platform/ns/ConfinedFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/testing/InjectedFaults.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

std::string contentsOf(int fd) {
    std::string out;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
    return out;
}

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// Each case runs twice: resolved by the kernel beneath the area (openat2), and by the walk
// that the program falls back on where the kernel cannot (the seam refuses openat2).
class ConfinedFileTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        writeText(area_ / "a.txt", "inside");
        writeText(area_ / "sub" / "b.txt", "below");
        writeText(second_ / "c.txt", "second");
        writeText(outside_ / "secret", "outside");
        fs::create_symlink("sub/b.txt", area_ / "relative");
        fs::create_symlink(area_ / "sub" / "b.txt", area_ / "absolute");
        fs::create_symlink(outside_ / "secret", area_ / "out");
        fs::create_symlink("../outside/secret", area_ / "up");
        fs::create_symlink("..", area_ / "sub" / "parent");
        fs::create_symlink("loop", area_ / "loop");
        fs::create_symlink(second_ / "c.txt", area_ / "other");
        fs::create_directory_symlink(area_, dir_ / "alias");
    }
    void TearDown() override { ns::InjectedFaults::clear(); }

    bool walks() const { return GetParam(); }

    // The contents of the file opened through the confinement, or "errno N".
    std::string read(const ns::ConfinedFile& confinement, const std::string& path) {
        if (walks()) ns::InjectedFaults::add("openat2", ENOSYS);
        auto fd = confinement.open(path, O_RDONLY);
        ns::InjectedFaults::clear();
        if (!fd) return "errno " + std::to_string(ns::FileManager::posixErrno(fd.error()));
        return contentsOf(fd->get());
    }
    static std::string failure(int error) { return "errno " + std::to_string(error); }

    testsupport::TempDir dir_;
    fs::path area_ = dir_ / "area";
    fs::path second_ = dir_ / "second";
    fs::path outside_ = dir_ / "outside";
};

TEST_P(ConfinedFileTest, LinksAreFollowedOnlyWhileTheyStayInAnArea) {
    const ns::ConfinedFile one({area_.string()});
    const ns::ConfinedFile both({area_.string(), second_.string()});
    const std::string a = area_.string();
    struct Case {
        std::string path;
        std::string one;   // confined to the area
        std::string both;  // to the area and the second one
    };
    const Case cases[] = {
        {a + "/a.txt", "inside", "inside"},
        {a + "/sub/../a.txt", "inside", "inside"},
        {a + "/relative", "below", "below"},
        {a + "/absolute", "below", "below"},
        {a + "/sub/parent/a.txt", "inside", "inside"},
        {a + "/other", failure(EXDEV), "second"},
        {a + "/out", failure(EXDEV), failure(EXDEV)},
        {a + "/up", failure(EXDEV), failure(EXDEV)},
        {a + "/../outside/secret", failure(EXDEV), failure(EXDEV)},
        {outside_.string() + "/secret", failure(EXDEV), failure(EXDEV)},
        {a + "/loop", failure(ELOOP), failure(ELOOP)},
        {a + "/none", failure(ENOENT), failure(ENOENT)},
        {"relative/a.txt", failure(EINVAL), failure(EINVAL)},
        {a + std::string("/a.txt\0/x", 9), failure(EINVAL), failure(EINVAL)},
        // Spelt through a link to the area, the path still names it.
        {(dir_ / "alias" / "a.txt").string(), "inside", "inside"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read(one, c.path), c.one) << c.path;
        EXPECT_EQ(read(both, c.path), c.both) << c.path;
    }
}

TEST_P(ConfinedFileTest, CreationFollowsAnInsideLinkAndRefusesAnOutsideOne) {
    const ns::ConfinedFile confinement({area_.string()});
    fs::create_symlink("sub/new.txt", area_ / "dangling");
    fs::create_symlink(outside_ / "planted", area_ / "escape");
    for (const char* name : {"dangling", "escape", "fresh"}) {
        if (walks()) ns::InjectedFaults::add("openat2", ENOSYS);
        auto fd = confinement.open((area_ / name).string(), O_WRONLY | O_CREAT, 0600);
        ns::InjectedFaults::clear();
        EXPECT_EQ(fd.ok(), std::string(name) != "escape") << name;
    }
    EXPECT_TRUE(fs::exists(area_ / "sub" / "new.txt"));
    EXPECT_TRUE(fs::exists(area_ / "fresh"));
    EXPECT_FALSE(fs::exists(outside_ / "planted"));
    // With O_NOFOLLOW the last link is not followed, as open(2) does it.
    if (walks()) ns::InjectedFaults::add("openat2", ENOSYS);
    auto nofollow = confinement.open((area_ / "relative").string(), O_RDONLY | O_NOFOLLOW);
    EXPECT_EQ(ns::FileManager::posixErrno(nofollow.error()), ELOOP);
}

TEST_P(ConfinedFileTest, ParentsAreOpenedBeneathTheAreaWithTheLastLinkFollowedOnRequest) {
    const ns::ConfinedFile confinement({area_.string()});
    if (walks()) ns::InjectedFaults::add("openat2", ENOSYS, 100);
    auto link = confinement.openParent((area_ / "relative").string(), false);
    ASSERT_TRUE(link.ok());
    EXPECT_EQ(link->name, "relative");
    struct stat st;
    ASSERT_EQ(::fstatat(link->directory.get(), "a.txt", &st, 0), 0);

    auto target = confinement.openParent((area_ / "relative").string(), true);
    ASSERT_TRUE(target.ok());
    EXPECT_EQ(target->name, "b.txt");
    EXPECT_EQ(::fstatat(target->directory.get(), "b.txt", &st, 0), 0);

    EXPECT_FALSE(confinement.openParent((area_ / "out").string(), true).ok());
    EXPECT_TRUE(confinement.openParent((area_ / "out").string(), false).ok());
    EXPECT_FALSE(confinement.openParent(area_.string(), false).ok());
    EXPECT_FALSE(confinement.openParent((area_ / ".." / "outside" / "x").string(), false).ok());
}

// A folder that another process keeps swapping for a link to the outside (an atomic exchange
// of two names) never leads a read out, however the swaps fall between the steps of the open.
TEST_P(ConfinedFileTest, AFolderSwappedForALinkNeverLeadsOut) {
    writeText(area_ / "dir" / "f", "inside");
    fs::create_directory_symlink(outside_, area_ / "swap");
    writeText(outside_ / "f", "outside");
    const ns::ConfinedFile confinement({area_.string()});
    std::atomic<bool> stop{false};
    std::atomic<int> swaps{0};
    std::thread swapper([&] {
        const std::string dir = (area_ / "dir").string();
        const std::string swap = (area_ / "swap").string();
        while (!stop) {
            if (::renameat2(AT_FDCWD, dir.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE) == 0) {
                ++swaps;
            }
        }
    });
    int inside = 0;
    for (int i = 0; i < 3000 || swaps < 100; ++i) {
        const std::string got = read(confinement, (area_ / "dir" / "f").string());
        ASSERT_NE(got, "outside") << "after " << i << " reads";
        if (got == "inside") ++inside;
    }
    stop = true;
    swapper.join();
    EXPECT_GT(inside, 0);
}

INSTANTIATE_TEST_SUITE_P(Resolution, ConfinedFileTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Walk" : "Kernel"; });

}  // namespace
