#include "platform/ns/UUID.h"

#include <gtest/gtest.h>

#include <set>

namespace {

bool looksLikeUpperCaseV4(const std::string& s) {
    if (s.size() != 36) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen != (s[i] == '-')) return false;
        if (!hyphen && !((s[i] >= '0' && s[i] <= '9') || (s[i] >= 'A' && s[i] <= 'F')))
            return false;
    }
    return s[14] == '4' && (s[19] == '8' || s[19] == '9' || s[19] == 'A' || s[19] == 'B');
}

TEST(UUID, RandomIdentifiersAreVersion4AndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string s = ns::UUID().UUIDString();
        EXPECT_TRUE(looksLikeUpperCaseV4(s)) << s;
        seen.insert(s);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(UUID, ParsesEitherCaseAndRoundTrips) {
    auto u = ns::UUID::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->UUIDString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(u->bytes()[0], 0xE6);
    EXPECT_EQ(u->bytes()[15], 0x5F);
    EXPECT_EQ(ns::UUID::fromString(u->UUIDString()), u);
    const ns::UUID random;
    EXPECT_EQ(ns::UUID::fromString(random.UUIDString()), random);
}

TEST(UUID, RefusesMalformedText) {
    for (const char* text :
         {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
          "E621E1F8-C36C-495A-93FC-0C247A3E6E5FF", "G621E1F8-C36C-495A-93FC-0C247A3E6E5F",
          "E621E1F8+C36C-495A-93FC-0C247A3E6E5F", "{621E1F8-C36C-495A-93FC-0C247A3E6E5}"}) {
        EXPECT_FALSE(ns::UUID::fromString(text)) << text;
    }
}

}  // namespace
