#include "platform/ns/TemporaryFiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/ns/AtomicFile.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

TEST(TemporaryFiles, TheNamesOfTheHostsOwnPatternOnly) {
    for (const char* name : {".a.tmp-Ab12Cd", ".state.plist.tmp-000000", ".x.tmp-zzzzzz"}) {
        EXPECT_TRUE(ns::TemporaryFiles::isTemporaryName(name)) << name;
    }
    for (const char* name : {"a.tmp-Ab12Cd", ".a.tmp-Ab12C", ".a.tmp-Ab12Cde", ".a.tmp-Ab12C_",
                             ".a.tmp_Ab12Cd", ".tmp-Ab12Cd", ".a.tmp-", ".a.replacing-Ab12Cd"}) {
        EXPECT_FALSE(ns::TemporaryFiles::isTemporaryName(name)) << name;
    }
    const std::string longName(300, 'n');
    const std::string made = ns::TemporaryFiles::nameFor(longName);
    EXPECT_TRUE(ns::TemporaryFiles::isTemporaryName(made));
    EXPECT_LE(made.size(), 255u);
}

TEST(TemporaryFiles, CreatedPrivateAndNeverOverAnotherFile) {
    testsupport::TempDir dir;
    const int folder = ::open(dir.str().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    auto first = ns::TemporaryFiles::create(folder, "f");
    auto second = ns::TemporaryFiles::create(folder, "f");
    ::close(folder);
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(second.ok());
    EXPECT_NE(first->name, second->name);
    struct stat st;
    ASSERT_EQ(::fstat(first->file.get(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// What unfinished rewrites leave anywhere below the folder goes; nothing else does, and no link
// is followed out of the folder.
TEST(TemporaryFiles, StaleOnesGoFromTheWholeTreeWithoutFollowingLinks) {
    testsupport::TempDir dir;
    const fs::path root = dir / "sandbox";
    writeText(root / ".a.txt.tmp-Ab12Cd", "half");
    writeText(root / "Container" / "Documents" / "deep" / ".b.bin.tmp-000000", "half");
    writeText(root / "Container" / "Documents" / ".moved.tmp-XyZ123" / "inner", "half a tree");
    writeText(root / "Container" / "Documents" / "keep.txt", "mine");
    writeText(root / "Container" / "Documents" / ".keep.tmp-short", "mine");
    writeText(root / "Keychain" / ".item.tmp-QQQQQQ", "half");
    writeText(dir / "outside" / ".x.tmp-Ab12Cd", "not ours to remove");
    fs::create_directory_symlink(dir / "outside", root / "Container" / "link");
    fs::create_symlink(dir / "outside" / ".x.tmp-Ab12Cd", root / ".l.tmp-Ab12Cd");

    EXPECT_EQ(ns::TemporaryFiles::removeStale(root.string()), 5u);
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_symlink() || !entry.is_directory())
            left.push_back(entry.path().lexically_relative(root).string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"Container/Documents/.keep.tmp-short",
                                              "Container/Documents/keep.txt", "Container/link"}));
    EXPECT_TRUE(fs::exists(dir / "outside" / ".x.tmp-Ab12Cd"));
}

// A rewrite that fails leaves nothing of the pattern behind, so that only a process that died
// in the middle of one leaves work for removeStale.
TEST(TemporaryFiles, AFailedRewriteLeavesNoneBehind) {
    testsupport::TempDir dir;
    fs::create_directories(dir / "target" / "full");
    EXPECT_FALSE(ns::writeFileAtomically((dir / "target").string(), std::string_view("x")).ok());
    EXPECT_EQ(ns::TemporaryFiles::removeStale(dir.str()), 0u);
}

}  // namespace
