#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ns/NotificationCenter.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Application.h"
#include "platform/ui/ApplicationNotifications.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Color.h"
#include "platform/ui/Storyboard.h"
#include "tests/platform/ui/HeadlessUi.h"

namespace {

using ::testing::ElementsAre;

class UiStateTest : public uitest::HeadlessUi {};

struct HexCase {
    const char* text;
    uint32_t rgb;
};

class HexColor : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexColor, SkipsTheFirstCharacterAndScansHex) {
    EXPECT_EQ(ui::Color::fromHexString(GetParam().text), ui::Color::fromRGB(GetParam().rgb));
}

INSTANTIATE_TEST_SUITE_P(Strings, HexColor,
                         ::testing::Values(HexCase{"#FF8000", 0xFF8000},
                                           HexCase{"FF8000", 0x0F8000},
                                           HexCase{"#ff8000", 0xFF8000}, HexCase{"#zz", 0},
                                           HexCase{"", 0}, HexCase{"#12GG", 0x12},
                                           HexCase{"#FFFFFFFFFF", 0xFFFFFF}));

TEST(Color, ComponentsAndNamedConstructors) {
    auto c = ui::Color::fromHexString("#FF8000");
    EXPECT_DOUBLE_EQ(c.red(), 1.0);
    EXPECT_DOUBLE_EQ(c.green(), 128 / 255.0);
    EXPECT_DOUBLE_EQ(c.blue(), 0);
    EXPECT_DOUBLE_EQ(c.alpha(), 1);
    auto argb = ui::Color::fromARGB(0x80FF0000);
    EXPECT_DOUBLE_EQ(argb.alpha(), 128 / 255.0);
    EXPECT_DOUBLE_EQ(argb.red(), 1.0);

    EXPECT_EQ(ui::Color::fromConstructorName("redColor"), ui::Color::redColor());
    EXPECT_EQ(ui::Color::fromConstructorName("clearColor"), ui::Color(0, 0, 0, 0));
    EXPECT_EQ(ui::Color::fromConstructorName("red"), std::nullopt);
    EXPECT_EQ(ui::Color::fromConstructorName("colorWithRed"), std::nullopt);

    EXPECT_EQ(ui::Color::named("BackgroundColor"), std::nullopt);
    ui::Color::registerNamed("BackgroundColor", ui::Color::blueColor());
    EXPECT_EQ(ui::Color::named("BackgroundColor"), ui::Color::blueColor());
    ui::Color::removeAllNamed();
}

TEST_F(UiStateTest, ColourAssetsAreComponentsFromZeroToOne) {
    const auto asset = [](const char* text) {
        return ui::Color::fromAssetDescription(ns::Data::fromString(text));
    };
    EXPECT_EQ(asset(R"({"red": 1, "green": 0.5, "blue": 0, "alpha": 0.25})"),
              ui::Color(1, 0.5, 0, 0.25));
    EXPECT_EQ(asset(R"({"red": 0, "green": 0, "blue": 1})"), ui::Color(0, 0, 1, 1));
    for (const char* bad : {R"({"red": 1, "green": 0.5})", R"({"red": 2, "green": 0, "blue": 0})",
                            R"({"red": -0.1, "green": 0, "blue": 0})",
                            R"({"red": "1", "green": 0, "blue": 0})", "[1, 0, 0]", "{", ""}) {
        EXPECT_EQ(asset(bad), std::nullopt) << bad;
    }
}

TEST_F(UiStateTest, PasteboardHoldsOneItem) {
    auto& board = ui::Pasteboard::general();
    EXPECT_EQ(board.string(), std::nullopt);
    board.setString("copied");
    EXPECT_EQ(board.string(), "copied");
    board.setValue("as text", ui::Pasteboard::kTypeText);
    EXPECT_EQ(board.string(), "as text");
    EXPECT_THAT(board.types(), ElementsAre("public.text"));
    board.setValue("<b/>", "public.html");
    EXPECT_EQ(board.string(), std::nullopt);
    board.setString(std::nullopt);
    EXPECT_TRUE(board.types().empty());
}

TEST_F(UiStateTest, DeviceDefaults) {
    auto& device = ui::Device::current();
    EXPECT_EQ(device.systemName(), "iOS");
    EXPECT_EQ(device.systemVersion(), "17.0");
    EXPECT_EQ(device.userInterfaceIdiom(), ui::Device::Idiom::Phone);
    EXPECT_TRUE(device.isMultitaskingSupported());
    auto id = device.identifierForVendor();
    ASSERT_TRUE(id);
    EXPECT_EQ(device.identifierForVendor(), id);
    device.setIdentifierForVendor(std::nullopt);
    EXPECT_EQ(device.identifierForVendor(), std::nullopt);

    EXPECT_EQ(ui::ViewController().supportedInterfaceOrientations(),
              ui::kInterfaceOrientationMaskAllButUpsideDown);
    device.setUserInterfaceIdiom(ui::Device::Idiom::Pad);
    EXPECT_EQ(ui::ViewController().supportedInterfaceOrientations(),
              ui::kInterfaceOrientationMaskAll);
}

TEST_F(UiStateTest, ApplicationEventsBecomeNotifications) {
    ui::Application app;
    ns::NotificationCenter center;
    ui::ApplicationNotifications::install(app, center);
    std::vector<std::string> names;
    center.addObserver("", nullptr, [&](const ns::Notification& n) { names.push_back(n.name); });
    app.launch({{"k", "v"}});
    app.becomeActive();
    app.enterBackground();
    EXPECT_THAT(names, ElementsAre(ui::kApplicationDidFinishLaunchingNotification,
                                   ui::kApplicationDidBecomeActiveNotification,
                                   ui::kApplicationWillResignActiveNotification,
                                   ui::kApplicationDidEnterBackgroundNotification));
}

TEST_F(UiStateTest, ControlsKeepTheirState) {
    auto spinner = ui::ActivityIndicatorView::create(ui::ActivityIndicatorView::Style::Gray);
    EXPECT_TRUE(spinner->isHidden());
    spinner->startAnimating();
    EXPECT_TRUE(spinner->isAnimating());
    EXPECT_FALSE(spinner->isHidden());
    spinner->setHidesWhenStopped(false);
    spinner->stopAnimating();
    EXPECT_FALSE(spinner->isHidden());

    int taps = 0;
    auto close =
        ui::BarButtonItem::withSystemItem(ui::BarButtonItem::SystemItem::Done, [&] { ++taps; });
    EXPECT_EQ(close->style(), ui::BarButtonItem::Style::Done);
    close->sendActions();
    close->setEnabled(false);
    close->sendActions();
    EXPECT_EQ(taps, 1);
    auto space =
        ui::BarButtonItem::withSystemItem(ui::BarButtonItem::SystemItem::FlexibleSpace, {});
    EXPECT_FALSE(space->hasAction());
    space->sendActions();

    auto launch = ui::Storyboard::named("LaunchScreen")->instantiateInitialViewController();
    EXPECT_EQ(launch->view()->frame(), ui::Screen::main().bounds());
}

}  // namespace
