#include "plugins/media_browser/HYBInAppBrowserOptions.h"

#include <gtest/gtest.h>

#include "plugins/media_browser/HYBWKInAppBrowserViewController.h"

namespace {

using Options = HYBInAppBrowserOptions;

TEST(InAppBrowserOptionsTest, KeysIgnoreCaseValuesKeepIt) {
    const Options defaults = Options::parseOptions("");
    EXPECT_TRUE(defaults.location);
    EXPECT_TRUE(defaults.toolbar);
    EXPECT_EQ(defaults.toolbarposition, "bottom");
    EXPECT_EQ(defaults.beforeload, "");
    EXPECT_FALSE(defaults.closebuttoncaption);

    const Options off = Options::parseOptions("Location=NO,toolbar=no");
    EXPECT_FALSE(off.location);
    EXPECT_FALSE(off.toolbar);

    // Nothing is trimmed: " toolbar" names no option.
    EXPECT_TRUE(Options::parseOptions("location=no, toolbar=no").toolbar);
    EXPECT_EQ(Options::parseOptions("toolbarposition=TOP").toolbarposition, "TOP");
    EXPECT_EQ(Options::parseOptions("presentationstyle=FormSheet").presentationstyle, "FormSheet");
    // Two "=" make a piece that is skipped; the others still apply.
    const Options twoEquals = Options::parseOptions("closebuttoncaption=Done=Now,hidden=yes");
    EXPECT_FALSE(twoEquals.closebuttoncaption);
    EXPECT_TRUE(twoEquals.hidden);
}

TEST(InAppBrowserOptionsTest, BooleansFromNumbersWordsAndText) {
    for (const char* on :
         {"hidden=1", "hidden=yes", "hidden=true", "hidden=2.5", "hidden= 007", "hidden=-1"}) {
        EXPECT_TRUE(Options::parseOptions(on).hidden) << on;
    }
    for (const char* off : {"hidden=0", "hidden=no", "hidden=false", "hidden=0.0", "hidden=x"}) {
        EXPECT_FALSE(Options::parseOptions(off).hidden) << off;
    }
}

TEST(InAppBrowserOptionsTest, TextOptionsNeverHoldNumbersOrBooleans) {
    EXPECT_EQ(Options::parseOptions("beforeload=get").beforeload, "get");
    // yes, no and numbers all mean the plain gate.
    EXPECT_EQ(Options::parseOptions("beforeload=yes").beforeload, "yes");
    EXPECT_EQ(Options::parseOptions("beforeload=no").beforeload, "yes");
    EXPECT_EQ(Options::parseOptions("beforeload=0").beforeload, "yes");
    EXPECT_FALSE(Options::parseOptions("closebuttoncaption=1").closebuttoncaption);
    EXPECT_FALSE(Options::parseOptions("presentationstyle=yes").presentationstyle);
    EXPECT_EQ(Options::parseOptions("toolbarposition=1").toolbarposition, "bottom");
}

TEST(InAppBrowserOptionsTest, HexColours) {
    using VC = HYBWKInAppBrowserViewController;
    const ui::Color orange = VC::colorFromHexString("#FF8000");
    EXPECT_DOUBLE_EQ(orange.red(), 1);
    EXPECT_DOUBLE_EQ(orange.green(), 128 / 255.0);
    EXPECT_DOUBLE_EQ(orange.blue(), 0);
    // The first character is skipped whatever it is.
    const ui::Color skipped = VC::colorFromHexString("FF8000");
    EXPECT_DOUBLE_EQ(skipped.red(), 0x0F / 255.0);
    EXPECT_DOUBLE_EQ(skipped.green(), 0x80 / 255.0);
    const ui::Color black = VC::colorFromHexString("#zz");
    EXPECT_EQ(black.red() + black.green() + black.blue(), 0);
    EXPECT_EQ(black.alpha(), 1);
}

}  // namespace
