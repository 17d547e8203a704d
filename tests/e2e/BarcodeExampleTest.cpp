#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/HostProcess.h"
#include "tests/support/TempDir.h"

#ifdef HYB_HOST_EXECUTABLE

namespace {

namespace fs = std::filesystem;

// The example bundle with its start page's "#barcode-demo", which runs the barcode section at
// start as its button does: it encodes its text as a QR code, scans the picture back through
// the scanner screen and shows what it read. The host runs with `cameraArguments` and the
// example's photos; the result is the host's output once the page showed what it scanned.
std::string runBarcodeDemo(const std::vector<std::string>& cameraArguments,
                           const fs::path& sandbox) {
    testsupport::TempDir root;
    const fs::path bundle = root.path() / "bundle";
    fs::copy(fs::path(HYB_SOURCE_DIR) / "examples/bundle", bundle, fs::copy_options::recursive);
    std::stringstream config;
    config << std::ifstream(bundle / "config.xml").rdbuf();
    std::string text = config.str();
    const std::string start = "<content src=\"index.html\" />";
    EXPECT_NE(text.find(start), std::string::npos);
    if (text.find(start) == std::string::npos) return {};
    text.replace(text.find(start), start.size(), "<content src=\"index.html#barcode-demo\" />");
    std::ofstream(bundle / "config.xml") << text;
    fs::create_directories(sandbox / "Container" / "tmp");

    HostProcess host(bundle.string(), sandbox.string(), cameraArguments);
    EXPECT_TRUE(host.readUntil("barcode: Scanned back:", std::chrono::seconds(60)))
        << host.output();
    host.readUntil("\n", std::chrono::seconds(5));
    return host.output();
}

const std::string kScannedAsEncoded =
    "barcode: Scanned back: Hello from the hybrid example ✓ (QR_CODE), as encoded";

// The camera watching the temporary folder, where the encoder writes.
TEST(BarcodeExample, EncodesScansBackAndShowsTheText) {
    testsupport::TempDir sandbox;
    const std::string output = runBarcodeDemo(
        {"--camera", (sandbox.path() / "Container" / "tmp").string()}, sandbox.path());
    EXPECT_NE(output.find(kScannedAsEncoded), std::string::npos) << output;
}

// The camera and photos that tools/dev run gives the host: the page's own pictures, else the
// example clip; the example's photos in the library.
TEST(BarcodeExample, TheRunCommandsCameraScansWhatThePageEncoded) {
    testsupport::TempDir sandbox;
    const fs::path examples = fs::path(HYB_SOURCE_DIR) / "examples";
    const std::string output =
        runBarcodeDemo({"--camera", "page:" + (examples / "bundle/www/media/sample.mp4").string(),
                        "--add-photo", (examples / "photos/Meadow.jpg").string()},
                       sandbox.path());
    EXPECT_NE(output.find(kScannedAsEncoded), std::string::npos) << output;
    EXPECT_TRUE(fs::is_regular_file(sandbox.path() / "Container/Library/PhotoLibrary/Meadow.jpg"));
}

}  // namespace

#endif
