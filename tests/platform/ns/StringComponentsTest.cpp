#include "platform/ns/StringComponents.h"

#include <gtest/gtest.h>

// Setting names, URL schemes and option keys are compared lower-cased: only the ASCII letters
// may change, so that every other byte (UTF-8 or not) stays whatever the process's locale.
TEST(StringComponentsTest, AsciiLowercasedChangesOnlyAsciiLetters) {
    EXPECT_EQ(ns::asciiLowercased("HybridWebViewEngine"), "hybridwebviewengine");
    // The neighbours of 'A' and 'Z' stay.
    EXPECT_EQ(ns::asciiLowercased("@AZ[`az{"), "@az[`az{");
    EXPECT_EQ(ns::asciiLowercased("\xC3\x80"
                                  "B\xC0"),
              "\xC3\x80"
              "b\xC0");
    EXPECT_EQ(ns::asciiLowercased(""), "");
}
