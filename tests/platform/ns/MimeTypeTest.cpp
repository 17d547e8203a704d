#include <gtest/gtest.h>

#include <fstream>

#include "platform/ns/MimeType.h"
#include "tests/support/TempDir.h"

namespace {

struct Case {
    const char* extension;
    const char* type;
};

class BuiltInMimeTypes : public ::testing::TestWithParam<Case> {};

TEST_P(BuiltInMimeTypes, AnswerWhateverTheLetterCase) {
    EXPECT_EQ(ns::MimeType::forExtension(GetParam().extension), GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(
    WebTypes, BuiltInMimeTypes,
    ::testing::Values(
        Case{"html", "text/html"}, Case{"HTM", "text/html"}, Case{"js", "text/javascript"},
        Case{"mjs", "text/javascript"}, Case{"css", "text/css"}, Case{"json", "application/json"},
        Case{"map", "application/json"}, Case{"png", "image/png"}, Case{"JPG", "image/jpeg"},
        Case{"jpeg", "image/jpeg"}, Case{"svg", "image/svg+xml"}, Case{"webp", "image/webp"},
        Case{"woff2", "font/woff2"}, Case{"mp3", "audio/mpeg"}, Case{"MP4", "video/mp4"},
        Case{"m4a", "audio/mp4"}, Case{"wav", "audio/wav"}, Case{"wasm", "application/wasm"},
        Case{"pdf", "application/pdf"}, Case{"txt", "text/plain"}, Case{"xml", "application/xml"}));

class MimeTypeTable : public ::testing::Test {
  protected:
    void TearDown() override { ns::MimeType::setSystemTablePath(ns::MimeType::kSystemTablePath); }
    testsupport::TempDir dir;
};

TEST_F(MimeTypeTable, FallsBackToTheSystemTableThenNothing) {
    auto table = dir / "mime.types";
    std::ofstream(table) << "# comment\n"
                            "application/x-first  dup\n"
                            "application/x-second dup Fancy # trailing comment\n"
                            "text/html html\n"
                            "lonely/type\n";
    ns::MimeType::setSystemTablePath(table.string());
    EXPECT_EQ(ns::MimeType::forExtension("dup"), "application/x-first");
    EXPECT_EQ(ns::MimeType::forExtension("FANCY"), "application/x-second");
    EXPECT_EQ(ns::MimeType::forExtension("html"), "text/html");
    EXPECT_EQ(ns::MimeType::forExtension("comment"), std::nullopt);
    EXPECT_EQ(ns::MimeType::forExtension("unknownext"), std::nullopt);
    EXPECT_EQ(ns::MimeType::forExtension(""), std::nullopt);
    EXPECT_EQ(ns::MimeType::forExtensionOrDefault("unknownext"), "application/octet-stream");

    ns::MimeType::setSystemTablePath((dir / "absent").string());
    EXPECT_EQ(ns::MimeType::forExtension("dup"), std::nullopt);
    EXPECT_EQ(ns::MimeType::forExtension("css"), "text/css");
}

}  // namespace
