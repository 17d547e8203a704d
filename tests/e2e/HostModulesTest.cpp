#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/e2e/HostProcess.h"
#include "tests/support/TempDir.h"

#ifdef HYB_HOST_EXECUTABLE

namespace {

// The files the process has mapped now.
std::string mappedFiles(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The media and barcode libraries come with modules that the host loads when a plug-in first
// needs them: a page that uses neither runs without them.
TEST(HostModules, APageWithoutMediaNeverMapsThem) {
    testsupport::TempDir sandbox;
    HostProcess host(sandbox.str());
    ASSERT_TRUE(host.readUntil("fixture ready")) << host.output();
    const std::string maps = mappedFiles(host.pid());
    EXPECT_EQ(maps.find("hybrid-video.so"), std::string::npos);
    EXPECT_EQ(maps.find("hybrid-codes.so"), std::string::npos);
    EXPECT_EQ(maps.find("libavcodec"), std::string::npos);
    EXPECT_EQ(maps.find("libZXing"), std::string::npos);
}

// The TLS library comes with a module of its own too, and so does the HTTP transport: a launch
// without the SDK whose page neither hashes, signs nor connects maps neither.
TEST(HostModules, ALaunchWithoutTheSDKNeverMapsTheTLSLibrary) {
    testsupport::TempDir sandbox;
    HostProcess host(sandbox.str());
    ASSERT_TRUE(host.readUntil("fixture ready")) << host.output();
    const std::string maps = mappedFiles(host.pid());
    EXPECT_EQ(maps.find("hybrid-crypto.so"), std::string::npos);
    EXPECT_EQ(maps.find("libcrypto.so"), std::string::npos);
    EXPECT_EQ(maps.find("libssl.so"), std::string::npos);
    EXPECT_EQ(maps.find("hybrid-net.so"), std::string::npos);
}

// With the SDK's default hosts, which never resolve, the SDK has nothing to reach: its first
// requests fail and its first events are stored, and neither the HTTP transport nor the TLS
// library is mapped for them.
TEST(HostModules, ALaunchWithTheSDKsDefaultHostsMapsNeitherTheTransportNorTheTLSLibrary) {
    testsupport::TempDir sandbox;
    HostProcess::Launch launch;
    launch.bundle = "examples/bundle";
    // Empty values leave the defaults, whatever the suite's environment names.
    for (const char* variable :
         {"NEBULA_MESSAGING_SERVER", "NEBULA_CHECKIN_SERVER_URL", "NEBULA_REGISTRATION_SERVER_URL",
          "NEBULA_MEASUREMENT_UPLOAD_HOST", "NEBULA_LOGBOOK_SERVER_URL"}) {
        launch.environment.push_back(std::string(variable) + "=");
    }
    HostProcess host(sandbox.str(), launch);
    for (const char* reached :
         {"Could not resolve host: device-provisioning.nebula.invalid",
          "Could not resolve host: logbook.nebula.invalid", "Nebula Analytics enabled"}) {
        ASSERT_TRUE(host.readUntil(reached)) << reached << "\n" << host.output();
    }
    const std::string maps = mappedFiles(host.pid());
    EXPECT_EQ(maps.find("hybrid-net.so"), std::string::npos);
    EXPECT_EQ(maps.find("hybrid-crypto.so"), std::string::npos);
    EXPECT_EQ(maps.find("libcrypto.so"), std::string::npos);
}

// The QR encoder's first use loads the barcode module and its libraries, and the page gets
// its code; the media libraries stay out.
TEST(HostModules, TheFirstQRCodeLoadsTheBarcodeModule) {
    testsupport::TempDir sandbox;
    HostProcess::Launch launch;
    launch.bundle = "tests/fixtures/qr_bundle";
    HostProcess host(sandbox.str(), launch);
    ASSERT_TRUE(host.readUntil("qr encoded as QR_CODE")) << host.output();
    const std::string maps = mappedFiles(host.pid());
    EXPECT_NE(maps.find("hybrid-codes.so"), std::string::npos);
    EXPECT_NE(maps.find("libqrencode"), std::string::npos);
    EXPECT_EQ(maps.find("hybrid-video.so"), std::string::npos);
}

// A module cut short (an install that ran out of disk) is refused as a missing one is: the
// host runs on and answers its page, and what needs the module fails in words of its own. A copy
// of the host runs with the HTTP transport's module cut beside it.
TEST(HostModules, AModuleCutShortIsRefusedAndTheHostRunsOn) {
    namespace fs = std::filesystem;
    testsupport::TempDir sandbox;
    testsupport::TempDir programs;
    const fs::path built = fs::path(HYB_HOST_EXECUTABLE).parent_path();
    std::error_code linked;
    fs::create_hard_link(built / "hybrid-host", programs / "hybrid-host", linked);
    if (linked) fs::copy_file(built / "hybrid-host", programs / "hybrid-host");
    fs::copy_file(built / "hybrid-net.so", programs / "hybrid-net.so");
    fs::resize_file(programs / "hybrid-net.so", 4096);
    // An address that resolves, so that the SDK's first request needs the transport.
    HostProcess host(sandbox.str(), {"tests/fixtures/push_bundle",
                                     {},
                                     {"NEBULA_CHECKIN_SERVER_URL=https://127.0.0.1:9"},
                                     (programs / "hybrid-host").string()});
    const std::string refused = "Cannot load the module " + programs.str() +
                                "/hybrid-net.so: the file is cut short (4096 bytes";
    ASSERT_TRUE(host.readUntil(refused)) << host.output();
    EXPECT_TRUE(host.readUntil("e2e-push ready true", std::chrono::seconds(30),
                               host.output().find(refused)))
        << host.output();
    EXPECT_NE(host.output().find("The network library is not available."), std::string::npos);
}

}  // namespace

#endif
