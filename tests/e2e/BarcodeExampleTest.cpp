#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/e2e/HostProcess.h"
#include "tests/support/TempDir.h"

#ifdef HYB_HOST_EXECUTABLE

namespace {

namespace fs = std::filesystem;

// The example bundle as a user runs it, with the camera watching the temporary folder: its
// barcode section encodes its text as a QR code, scans the picture back through the scanner
// screen and shows what it read. (The start page's "#barcode-demo" runs the section at start,
// as its button does.)
TEST(BarcodeExample, EncodesScansBackAndShowsTheText) {
    testsupport::TempDir root;
    const fs::path bundle = root.path() / "bundle";
    const fs::path sandbox = root.path() / "sandbox";
    fs::copy(fs::path(HYB_SOURCE_DIR) / "examples/bundle", bundle, fs::copy_options::recursive);
    std::stringstream config;
    config << std::ifstream(bundle / "config.xml").rdbuf();
    std::string text = config.str();
    const std::string start = "<content src=\"index.html\" />";
    ASSERT_NE(text.find(start), std::string::npos);
    text.replace(text.find(start), start.size(), "<content src=\"index.html#barcode-demo\" />");
    std::ofstream(bundle / "config.xml") << text;
    fs::create_directories(sandbox / "Container" / "tmp");

    HostProcess host(bundle.string(), sandbox.string(),
                     {"--camera", (sandbox / "Container" / "tmp").string()});
    ASSERT_TRUE(host.readUntil("barcode: Scanned back:", std::chrono::seconds(60)))
        << host.output();
    host.readUntil("\n", std::chrono::seconds(5));
    EXPECT_NE(host.output().find(
                  "barcode: Scanned back: Hello from the hybrid example ✓ (QR_CODE), as encoded"),
              std::string::npos)
        << host.output();
}

}  // namespace

#endif
