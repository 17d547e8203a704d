#include <gtest/gtest.h>

#include <fstream>

#include "platform/ns/MimeType.h"
#include "tests/support/TempDir.h"

namespace {

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
