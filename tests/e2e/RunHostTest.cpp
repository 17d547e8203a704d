// tools/run-host with the local services, as `tools/dev run` starts it: the example page gets
// the addresses the services really have in this run, with no typing, also when the identity
// service's own port is taken. A stand-in host shows what the real one would be given.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/FileDescriptor.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#ifdef HYB_SERVICES_EXECUTABLE

extern char** environ;

namespace {

namespace fs = std::filesystem;

const fs::path kSourceRoot(HYB_SOURCE_DIR);

// Prints each argument on a line of its own, then each line of the services script of the
// bundle it was given, and an error line naming that bundle as the host's would.
constexpr const char* kStandInHost = R"(#!/bin/sh
bundle=
previous=
for argument in "$@"; do
    echo "argument $argument"
    [ "$previous" = --bundle ] && bundle=$argument
    previous=$argument
done
[ -n "$bundle" ] && sed 's/^/script /' "$bundle/www/js/local-services.js" 2>/dev/null
echo "hybrid-host: $bundle/config.xml:4:1: no element found" >&2
exit 0
)";

// Holds 127.0.0.1:8443 the way another program would, unless one already does.
ns::FileDescriptor holdIdentityPort() {
    ns::FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    // As servers do, so that connections of earlier tests still closing do not stand in the way.
    const int reuse = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(8443);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        ::listen(fd.get(), 1);
    return fd;
}

struct RunHostRun {
    int status;
    std::string output;
    // What run-host printed of the services' environment.
    std::string authority;
    // What the stand-in host was given and read.
    std::vector<std::string> arguments;
    std::string script;
};

RunHostRun runHost(const fs::path& host, const std::vector<std::string>& hostArguments) {
    testsupport::TempDir dir;
    // A display is named, so that run-host starts no virtual one: the stand-in needs none.
    std::vector<std::string> environment{"ASAN_OPTIONS=detect_leaks=0", "DISPLAY=:none"};
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view text(*entry);
        if (!text.starts_with("DISPLAY=") && !text.starts_with("WAYLAND_DISPLAY=") &&
            !text.starts_with("ASAN_OPTIONS=") && !text.starts_with("HYBRID_"))
            environment.emplace_back(text);
    }
    std::vector<std::string> argv{(kSourceRoot / "tools/run-host").string(), "--services",
                                  HYB_SERVICES_EXECUTABLE, host.string()};
    argv.insert(argv.end(), hostArguments.begin(), hostArguments.end());
    const std::string outputPath = (dir / "output").string();
    RunHostRun run{testsupport::runProgram(argv, environment, outputPath), {}, {}, {}, {}};
    std::ifstream output(outputPath);
    for (std::string line; std::getline(output, line);) {
        run.output += line + "\n";
        if (line.starts_with("  HYBRID_SIGNIN_AUTHORITY="))
            run.authority = line.substr(line.find('=') + 1);
        else if (line.starts_with("argument "))
            run.arguments.push_back(line.substr(9));
        else if (line.starts_with("script "))
            run.script += line.substr(7) + "\n";
    }
    return run;
}

std::string scriptNaming(const std::string& authority) {
    return "// Written by tools/run-host: the local services of this run.\n"
           "window.localServices = {\n    signInAuthority: '" +
           authority + "'\n};\n";
}

// The example bundle, found beside the host as the host finds it, or named; with the identity
// service's port taken, the host is given a copy whose script names the service's other port,
// and its lines name the bundle, not the copy. Another bundle is given to the host as it is.
TEST(RunHost, TheExamplePageNamesTheServicesOfThisRun) {
    testsupport::TempDir dir;
    const fs::path host = dir / "hybrid-host";
    std::ofstream(host) << kStandInHost;
    fs::permissions(host, fs::perms::owner_all);
    const fs::path example = fs::canonical(dir.path()) / "bundle";
    fs::copy(kSourceRoot / "examples/bundle", example, fs::copy_options::recursive);
    const auto held = holdIdentityPort();

    for (const std::vector<std::string>& given :
         {std::vector<std::string>{"--exit-after-load"},
          {"--bundle", example.string(), "--exit-after-load"}}) {
        const RunHostRun run = runHost(host, given);
        SCOPED_TRACE(run.output);
        EXPECT_EQ(run.status, 0);
        ASSERT_TRUE(run.authority.starts_with("https://localhost:"));
        EXPECT_FALSE(run.authority.starts_with("https://localhost:8443/"));
        ASSERT_GE(run.arguments.size(), 3u);
        EXPECT_EQ(run.arguments[0], "--bundle");
        const fs::path copy = run.arguments[1];
        EXPECT_NE(copy, example);
        EXPECT_EQ(run.arguments.back(), "--exit-after-load");
        for (size_t i = 1; i < run.arguments.size(); ++i) {
            if (run.arguments[i - 1] == "--bundle") EXPECT_EQ(run.arguments[i], copy.string());
        }
        EXPECT_EQ(run.script, scriptNaming(run.authority));
        // The copy goes when the run ends: the host's lines name the bundle given.
        EXPECT_NE(run.output.find("hybrid-host: " + example.string() + "/config.xml:4:1: "),
                  std::string::npos);
        EXPECT_EQ(run.output.find(copy.string() + "/config.xml"), std::string::npos);
    }

    const std::string fixture = (kSourceRoot / "tests/fixtures/bundle").string();
    const RunHostRun other = runHost(host, {"--bundle", fixture});
    EXPECT_EQ(other.status, 0) << other.output;
    EXPECT_EQ(other.arguments, (std::vector<std::string>{"--bundle", fixture})) << other.output;
}

// tools/dev names a command it does not know and fails as a mistake does; asked for help, it
// gives it and succeeds. Neither needs anything installed.
TEST(DevTool, NamesAnUnknownCommandAndSucceedsAtHelp) {
    testsupport::TempDir dir;
    const std::string outputPath = (dir / "output").string();
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
    const std::pair<std::string, int> commands[] = {{"frobnicate", 2}, {"help", 0}, {"--help", 0}};
    for (const auto& [command, status] : commands) {
        EXPECT_EQ(testsupport::runProgram({(kSourceRoot / "tools/dev").string(), command},
                                          environment, outputPath),
                  status)
            << command;
        std::stringstream output;
        output << std::ifstream(outputPath).rdbuf();
        EXPECT_NE(output.str().find("tools/dev run [ARGS...]"), std::string::npos) << command;
        EXPECT_EQ(output.str().find("unknown command 'frobnicate'") != std::string::npos,
                  status != 0)
            << output.str();
    }
}

}  // namespace

#endif
