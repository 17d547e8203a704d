// The host program's command line, as a user meets it: help, and mistakes reported on one
// line before any display is looked for.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#ifdef HYB_HOST_EXECUTABLE

extern char** environ;

namespace {

struct HostRun {
    int status;
    std::string output;
};

// The host with the arguments, in an environment without any display.
HostRun runHost(const std::vector<std::string>& arguments) {
    testsupport::TempDir dir;
    std::vector<std::string> environment{"ASAN_OPTIONS=detect_leaks=0"};
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view text(*entry);
        if (!text.starts_with("DISPLAY=") && !text.starts_with("WAYLAND_DISPLAY=") &&
            !text.starts_with("ASAN_OPTIONS="))
            environment.emplace_back(text);
    }
    std::vector<std::string> argv{HYB_HOST_EXECUTABLE};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const std::string outputPath = (dir / "output").string();
    const int status = testsupport::runProgram(argv, environment, outputPath);
    std::stringstream output;
    output << std::ifstream(outputPath).rdbuf();
    return {status, output.str()};
}

TEST(HostCommandLine, HelpListsEveryOptionAndSucceeds) {
    const HostRun run = runHost({"--help"});
    EXPECT_EQ(run.status, 0) << run.output;
    for (const char* option :
         {"--bundle DIR", "--sandbox DIR", "--system-version X.Y", "--exit-after-load",
          "--microphone", "--camera FILE", "--complete-purchase PRODUCT_ID",
          "-NEBAnalyticsDebugEnabled", "-noNEBAnalyticsDebugEnabled", "--help"})
        EXPECT_NE(run.output.find("\n  " + std::string(option)), std::string::npos) << option;
}

TEST(HostCommandLine, MistakesAreOneLineNamingTheArgumentBeforeAnyDisplay) {
    testsupport::TempDir notABundle;
    const std::vector<std::pair<std::vector<std::string>, std::string>> mistakes = {
        {{"--bundle", notABundle.str()}, notABundle.str()},
        {{"--system-version", "banana"}, "banana"},
        {{"--frobnicate"}, "--frobnicate"},
        {{"--complete-purchase", "two words"}, "two words"},
    };
    for (const auto& [arguments, named] : mistakes) {
        const HostRun run = runHost(arguments);
        EXPECT_EQ(run.status, 2) << run.output;
        EXPECT_NE(run.output.find(named), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("display"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << run.output;
        EXPECT_EQ(run.output.find("\\n"), std::string::npos) << run.output;
    }
    // Arguments that are right get as far as the missing display.
    const HostRun fine = runHost({"--system-version", "16.4", "-NEBAnalyticsDebugEnabled",
                                  "--complete-purchase", "org.example.coins"});
    EXPECT_EQ(fine.status, 1) << fine.output;
    EXPECT_NE(fine.output.find("no display"), std::string::npos) << fine.output;
}

// A config.xml that cannot be read is a mistake of the bundle: one line naming the file, line
// and column, before any display, and the status of a bad argument. One whose only mistake
// follows its document element keeps what was read and gets as far as the display.
TEST(HostCommandLine, ConfigurationThatCannotBeReadIsOneLineNamingWhere) {
    testsupport::TempDir bundle;
    std::filesystem::create_directory(bundle / "www");
    const std::string config = (bundle / "config.xml").string();
    const std::pair<std::string, std::string> unreadable[] = {
        {"this is not XML\n", config + ":1:1: "},
        {"<widget>\n  <feature name=\"Logger\">\n    <param name=\"ios-package\" "
         "value=\"HYBLogger\"/>\n",
         config + ":4:1: no element found"},
    };
    for (const auto& [text, named] : unreadable) {
        std::ofstream(config, std::ios::trunc) << text;
        const HostRun run = runHost({"--bundle", bundle.str(), "--exit-after-load"});
        EXPECT_EQ(run.status, 2) << run.output;
        EXPECT_EQ(run.output.rfind("hybrid-host: " + named, 0), 0u) << run.output;
        EXPECT_EQ(run.output.find("display"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << run.output;
    }
    std::ofstream(config, std::ios::trunc) << "<widget/>\n<junk/>\n";
    const HostRun recoverable = runHost({"--bundle", bundle.str(), "--exit-after-load"});
    EXPECT_EQ(recoverable.status, 1) << recoverable.output;
    EXPECT_NE(recoverable.output.find("no display"), std::string::npos) << recoverable.output;
}

// An Info.plist that cannot be read is a mistake of the bundle too: without it the host would
// run without the bundle's identity and keep its data in a folder that is no application's.
// One without any runs on.
TEST(HostCommandLine, InfoPlistThatCannotBeReadIsOneLineNamingWhy) {
    testsupport::TempDir bundle;
    std::filesystem::create_directory(bundle / "www");
    std::ofstream(bundle / "config.xml") << "<widget/>\n";
    const std::string plist = (bundle / "Info.plist").string();
    const std::pair<std::string, std::string> unreadable[] = {
        {"<plist>\n<dict><key>CFBundleIdentifier</key></plist>\n",
         plist + ": XML error on line 2: mismatched tag"},
        {"<plist><string>org.example</string></plist>", plist + ": not a dictionary"},
    };
    for (const auto& [text, line] : unreadable) {
        std::ofstream(plist, std::ios::trunc) << text;
        const HostRun run = runHost({"--bundle", bundle.str(), "--exit-after-load"});
        EXPECT_EQ(run.status, 2) << run.output;
        EXPECT_EQ(run.output, "hybrid-host: " + line + "\n");
    }
    std::filesystem::remove(plist);
    const HostRun bare = runHost({"--bundle", bundle.str(), "--exit-after-load"});
    EXPECT_EQ(bare.status, 1) << bare.output;
    EXPECT_NE(bare.output.find("no display"), std::string::npos) << bare.output;
}

// Paths are printed as given, but a line break or an escape sequence in one is shown escaped:
// it can neither split the line nor forge a line of its own.
TEST(HostCommandLine, ControlCharactersInAPathAreEscaped) {
    testsupport::TempDir dir;
    const std::string forged = "\nhybrid-host: all is well\x1b[2K";
    const std::filesystem::path bundle = dir / ("app" + forged);
    std::filesystem::create_directories(bundle / "www");
    std::ofstream(bundle / "config.xml") << "<widget>\n";
    const std::string missing = (dir / ("none" + forged)).string();
    for (const std::string& path : {bundle.string(), missing}) {
        const HostRun run = runHost({"--bundle", path});
        EXPECT_EQ(run.status, 2) << run.output;
        EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << run.output;
        EXPECT_EQ(run.output.find('\x1b'), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("\\nhybrid-host: all is well\\u001B[2K"), std::string::npos)
            << run.output;
    }
}

}  // namespace

#endif
