#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ns/NotificationCenter.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/ScrollView.h"
#include "tests/platform/ui/HeadlessUi.h"

namespace {

using ::testing::ElementsAre;
using Style = ui::StatusBar::Style;

class StatusBarTest : public uitest::HeadlessUi {
protected:
    ui::StatusBar& bar = ui::StatusBar::shared();
};

// Answers the status bar questions from fields that a test sets.
class BarController : public ui::ViewController {
public:
    bool hidden = false;
    Style style = Style::Default;
    bool prefersStatusBarHidden() const override { return hidden; }
    Style preferredStatusBarStyle() const override { return style; }
};

TEST_F(StatusBarTest, FollowsTheGoverningControllerWhenControllersDecide) {
    auto root = std::make_shared<BarController>();
    root->style = Style::LightContent;
    auto window = show(root);
    EXPECT_EQ(bar.style(), Style::LightContent);

    root->hidden = true;
    EXPECT_FALSE(bar.isHidden()) << "nothing changes before the controller asks for an update";
    root->setNeedsStatusBarAppearanceUpdate();
    EXPECT_TRUE(bar.isHidden());
    EXPECT_EQ(bar.frame(), ui::Rect::zero());

    // The application-level setters are ignored while controllers decide.
    bar.setHidden(false);
    bar.setStyle(Style::DarkContent);
    EXPECT_TRUE(bar.isHidden());
    EXPECT_EQ(bar.style(), Style::LightContent);

    // A full-screen navigation controller with a hidden bar defers to its top controller.
    auto top = std::make_shared<BarController>();
    top->style = Style::DarkContent;
    auto nav = ui::NavigationController::create(top);
    nav->setNavigationBarHidden(true);
    nav->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    root->presentViewController(nav, true);
    loop().runUntilIdle();
    EXPECT_FALSE(bar.isHidden());
    EXPECT_EQ(bar.style(), Style::DarkContent);

    // An alert on top does not take the bar over.
    nav->presentViewController(ui::AlertController::create("t", "m"), false);
    loop().runUntilIdle();
    EXPECT_EQ(bar.style(), Style::DarkContent);

    nav->dismissViewController(false);  // the alert
    root->dismissViewController(false);
    loop().runUntilIdle();
    EXPECT_TRUE(bar.isHidden());
    EXPECT_EQ(bar.style(), Style::LightContent);
}

TEST_F(StatusBarTest, ApplicationSettersWorkWithoutControllerAppearance) {
    bar.setViewControllerBasedAppearance(false);
    std::vector<bool> seen;
    int token = bar.addHiddenObserver([&](bool hidden) { seen.push_back(hidden); });
    int frameChanges = 0;
    auto observer = ns::NotificationCenter::defaultCenter().addObserver(
        ui::kApplicationDidChangeStatusBarFrameNotification, nullptr,
        [&](const ns::Notification&) { ++frameChanges; });

    EXPECT_EQ(bar.frame(), ui::Rect(0, 0, 390, ui::StatusBar::kDefaultHeight));
    bar.setHidden(true);
    bar.setHidden(true);  // unchanged: no report
    bar.setStyle(Style::LightContent);
    bar.setHidden(false);
    bar.setHeight(20);
    bar.removeHiddenObserver(token);
    bar.setHidden(true);

    EXPECT_THAT(seen, ElementsAre(true, false));
    EXPECT_EQ(bar.style(), Style::LightContent);
    EXPECT_EQ(frameChanges, 4);
    ns::NotificationCenter::defaultCenter().removeObserver(observer);
}

// Over a screen that does not govern the bar (a sheet), the bar still shows unless that screen,
// or the child it defers to, prefers it hidden; the application's own hidden bar is hidden
// over every screen, and without controller appearance only the application decides.
TEST_F(StatusBarTest, IsHiddenOverAScreenThatPrefersItHidden) {
    auto root = std::make_shared<BarController>();
    auto window = show(root);
    auto top = std::make_shared<BarController>();
    auto sheet = ui::NavigationController::create(top);
    root->presentViewController(sheet, false);
    loop().runUntilIdle();
    ASSERT_FALSE(bar.isHidden());
    EXPECT_FALSE(bar.isHiddenOver(sheet));

    top->hidden = true;
    EXPECT_TRUE(bar.isHiddenOver(sheet)) << "the navigation controller defers to its top";
    EXPECT_FALSE(bar.isHidden()) << "a sheet does not govern the bar";
    bar.setViewControllerBasedAppearance(false);
    EXPECT_FALSE(bar.isHiddenOver(sheet));
    bar.setHidden(true);
    EXPECT_TRUE(bar.isHiddenOver(sheet));
    EXPECT_TRUE(bar.isHiddenOver(nullptr));
    bar.setHidden(false);
    bar.setViewControllerBasedAppearance(true);
    root->dismissViewController(false);
    loop().runUntilIdle();
}

// A presented screen's view starts in its window, which has the main window's frame: at the
// top for one that covers its presenter (it governs the bar and leaves room for it itself) or
// places itself, below the bar for one that leaves its presenter around it (a sheet, over the
// current context), which then shows the bar in light content on the backdrop; at the top
// again for a sheet that prefers the bar hidden.
TEST_F(StatusBarTest, PresentedScreensStartBelowTheBarWhereTheirStyleLeavesThePresenter) {
    using Presentation = ui::ModalPresentationStyle;
    struct Case {
        Presentation presentation;
        bool prefersHidden;
        double top;
        bool barShows;
        Style over;
    };
    const double h = ui::StatusBar::kDefaultHeight;
    const Case cases[] = {
        {Presentation::Automatic, false, h, true, Style::LightContent},
        {Presentation::PageSheet, false, h, true, Style::LightContent},
        {Presentation::FormSheet, false, h, true, Style::LightContent},
        {Presentation::OverCurrentContext, false, h, true, Style::LightContent},
        {Presentation::FullScreen, false, 0, true, Style::DarkContent},
        {Presentation::CurrentContext, false, 0, true, Style::DarkContent},
        {Presentation::Custom, false, 0, true, Style::Default},
        {Presentation::Automatic, true, 0, false, Style::LightContent},
        {Presentation::FullScreen, true, 0, false, Style::DarkContent},
    };
    auto root = std::make_shared<BarController>();
    auto window = show(root);
    const ui::Rect main = ui::Screen::main().bounds();
    ASSERT_EQ(window->frame(), main);
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.presentation) * 10 + c.prefersHidden);
        auto screen = std::make_shared<BarController>();
        screen->hidden = c.prefersHidden;
        screen->style = Style::DarkContent;
        screen->setModalPresentationStyle(c.presentation);
        root->presentViewController(screen, false);
        loop().runUntilIdle();
        EXPECT_EQ(screen->view()->frame(), ui::Rect(0, c.top, main.width(), main.height() - c.top));
        EXPECT_EQ(bar.isHiddenOver(screen), !c.barShows);
        EXPECT_EQ(bar.styleOver(screen), c.over);
        root->dismissViewController(false);
        loop().runUntilIdle();
    }
}

// A screen below the bar follows it while it shows: the bar hidden or shown by the application,
// a new height, the screen coming to prefer the bar hidden. Only its top edge moves, so a screen
// whose window the user resized keeps the rest of its size.
TEST_F(StatusBarTest, AScreenBelowTheBarFollowsIt) {
    auto root = std::make_shared<BarController>();
    auto window = show(root);
    auto sheet = std::make_shared<BarController>();
    root->presentViewController(sheet, false);
    loop().runUntilIdle();
    sheet->transitionViewToSize({300, 600});
    const auto frame = [&] { return sheet->view()->frame(); };
    ASSERT_EQ(frame(), ui::Rect(0, 47, 300, 600));

    sheet->hidden = true;
    sheet->setNeedsStatusBarAppearanceUpdate();
    EXPECT_EQ(frame(), ui::Rect(0, 0, 300, 647));
    sheet->hidden = false;
    sheet->setNeedsStatusBarAppearanceUpdate();
    EXPECT_EQ(frame(), ui::Rect(0, 47, 300, 600));

    bar.setHeight(20);
    EXPECT_EQ(frame(), ui::Rect(0, 20, 300, 627));
    bar.setViewControllerBasedAppearance(false);
    bar.setHidden(true);
    EXPECT_EQ(frame(), ui::Rect(0, 0, 300, 647));
    EXPECT_EQ(ui::Screen::main().applicationFrame(), ui::Screen::main().bounds());
    bar.setHidden(false);
    EXPECT_EQ(frame(), ui::Rect(0, 20, 300, 627));
    EXPECT_EQ(ui::Screen::main().applicationFrame(), ui::Rect(0, 20, 390, 824));
    bar.setViewControllerBasedAppearance(true);
    root->dismissViewController(false);
    loop().runUntilIdle();
}

class TopDelegate : public ui::ScrollViewDelegate {
public:
    bool allow = false;
    int asked = 0;
    bool scrollViewShouldScrollToTop(ui::ScrollView&) override {
        ++asked;
        return allow;
    }
};

TEST_F(StatusBarTest, TapScrollsTheOneScrollViewThatScrollsToTop) {
    auto window = show(ui::ViewController::create());
    auto root = window->rootViewController()->view();
    auto invisible = ui::ScrollView::create(root->bounds());
    auto content = ui::ScrollView::create(root->bounds());
    content->setScrollsToTop(false);
    root->addSubview(invisible);
    root->addSubview(content);
    auto delegate = std::make_shared<TopDelegate>();
    invisible->setDelegate(delegate);
    invisible->setContentOffset({0, 844});

    EXPECT_FALSE(bar.tap());
    EXPECT_EQ(delegate->asked, 1);
    EXPECT_EQ(invisible->contentOffset(), (ui::Point{0, 844}));

    delegate->allow = true;
    EXPECT_TRUE(bar.tap());
    EXPECT_EQ(invisible->contentOffset(), (ui::Point{0, 0}));

    content->setScrollsToTop(true);  // two candidates: none scrolls
    EXPECT_FALSE(bar.tap());
    EXPECT_EQ(delegate->asked, 2);
}

}  // namespace
