#include "platform/ns/Sandbox.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/ns/Bundle.h"
#include "tests/platform/ns/SandboxFixture.h"

namespace {

namespace fs = std::filesystem;
using ns::Sandbox;

class SandboxLayoutTest : public testsupport::SandboxTest {};

TEST_F(SandboxLayoutTest, ConfigureCreatesTheContainerBesideTheKeychain) {
    std::string root = path("sandbox");
    EXPECT_EQ(Sandbox::root(), root);
    EXPECT_EQ(Sandbox::homeDirectory(), root + "/Container");
    EXPECT_EQ(Sandbox::documentsDirectory(), root + "/Container/Documents");
    EXPECT_EQ(Sandbox::libraryDirectory(), root + "/Container/Library");
    EXPECT_EQ(Sandbox::cachesDirectory(), root + "/Container/Library/Caches");
    EXPECT_EQ(Sandbox::applicationSupportDirectory(),
              root + "/Container/Library/Application Support");
    EXPECT_EQ(Sandbox::preferencesDirectory(), root + "/Container/Library/Preferences");
    EXPECT_EQ(Sandbox::temporaryDirectory(), root + "/Container/tmp/");
    EXPECT_EQ(Sandbox::keychainDirectory(), root + "/Keychain");
    for (const auto& dir : {Sandbox::documentsDirectory(), Sandbox::cachesDirectory(),
                            Sandbox::applicationSupportDirectory(), Sandbox::preferencesDirectory(),
                            Sandbox::temporaryDirectory(), Sandbox::keychainDirectory()}) {
        EXPECT_TRUE(fs::is_directory(dir)) << dir;
    }
    struct stat st;
    ASSERT_EQ(::stat(Sandbox::temporaryDirectory().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(Sandbox::keychainDirectory().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(SandboxLayoutTest, InsideContainerResolvesDotDotAndLinks) {
    std::string docs = Sandbox::documentsDirectory();
    fs::create_symlink(dir_.str(), docs + "/escape");
    fs::create_symlink(docs, path("into-docs"));
    EXPECT_TRUE(Sandbox::isInsideContainer(docs + "/new/file.txt"));
    EXPECT_TRUE(Sandbox::isInsideContainer(Sandbox::homeDirectory()));
    EXPECT_TRUE(Sandbox::isInsideContainer(path("into-docs/file")));
    EXPECT_FALSE(Sandbox::isInsideContainer(docs + "/../../Keychain/item"));
    EXPECT_FALSE(Sandbox::isInsideContainer(docs + "/escape/file"));
    EXPECT_FALSE(Sandbox::isInsideContainer(Sandbox::keychainDirectory()));
    EXPECT_FALSE(Sandbox::isInsideContainer("/etc/passwd"));
    EXPECT_FALSE(Sandbox::isInsideContainer(path("sandbox/Container-other/x")));
}

TEST_F(SandboxLayoutTest, ReinstallWipesTheContainerButNotTheKeychain) {
    std::ofstream(Sandbox::documentsDirectory() + "/note") << "x";
    std::ofstream(Sandbox::keychainDirectory() + "/item") << "secret";
    auto before = Sandbox::generation();
    ASSERT_TRUE(Sandbox::simulateReinstall().ok());
    EXPECT_NE(Sandbox::generation(), before);
    EXPECT_FALSE(fs::exists(Sandbox::documentsDirectory() + "/note"));
    EXPECT_TRUE(fs::is_directory(Sandbox::documentsDirectory()));
    EXPECT_TRUE(fs::exists(Sandbox::keychainDirectory() + "/item"));
}

TEST_F(SandboxLayoutTest, DefaultRootFollowsXdgDataHomeAndTheBundleIdentifier) {
    const char* saved = std::getenv("XDG_DATA_HOME");
    std::string savedValue = saved ? saved : "";
    auto bundle = path("App.app");
    fs::create_directories(bundle);
    std::ofstream(bundle + "/Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>org.example.app</string></dict></plist>";
    auto savedBundle = ns::Bundle::mainBundle()->bundlePath();
    ns::Bundle::setMainBundlePath(bundle);

    ::setenv("XDG_DATA_HOME", "/data/home", 1);
    EXPECT_EQ(Sandbox::defaultRoot(), "/data/home/hybrid-host/org.example.app");
    EXPECT_EQ(Sandbox::bundleDirectory(), bundle);

    if (saved) {
        ::setenv("XDG_DATA_HOME", savedValue.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
    ns::Bundle::setMainBundlePath(savedBundle);
}

}  // namespace
