#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/ns/Bundle.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/PresentationController.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TapGestureRecognizer.h"
#include "tests/platform/ui/HeadlessUi.h"
#include "tests/support/TempDir.h"

namespace {

using ::testing::ElementsAre;
using uitest::JournalController;
using Journal = std::vector<std::string>;

class ScreenPartsTest : public uitest::HeadlessUi {};

// Rows of fixed height; every cell made is counted, and selections are noted.
class Rows : public ui::TableViewDataSource, public ui::TableViewDelegate {
public:
    explicit Rows(size_t count) : count(count) {}
    size_t numberOfRows(ui::TableView&) override { return count; }
    std::shared_ptr<ui::TableViewCell> cellForRow(ui::TableView&, size_t row) override {
        ++made;
        auto cell = std::make_shared<ui::TableViewCell>();
        cell->textLabel()->setText("row " + std::to_string(row));
        return cell;
    }
    double heightForRow(ui::TableView&, size_t) override { return 50; }
    void didSelectRow(ui::TableView&, size_t row) override { selected.push_back(row); }

    size_t count;
    size_t made = 0;
    std::vector<size_t> selected;
};

// A long table makes cells only near what is seen, and scrolling moves that window; a tap on
// a row's cell selects that row, unless the table takes no selections.
TEST_F(ScreenPartsTest, TablesMakeTheRowsNearTheVisiblePartAndHearTaps) {
    auto rows = std::make_shared<Rows>(10000);
    auto table = ui::TableView::create({{0, 0}, {320, 500}});
    table->setDataSource(std::weak_ptr<ui::TableViewDataSource>(rows));
    table->setTableDelegate(std::weak_ptr<ui::TableViewDelegate>(rows));
    table->reloadData();
    EXPECT_EQ(table->contentSize().height, 500000);
    // The visible 10 rows and a screenful below them.
    EXPECT_EQ(rows->made, 20u);
    EXPECT_EQ(table->subviews().size(), 20u);
    ASSERT_TRUE(table->cellForRow(3));
    EXPECT_EQ(table->cellForRow(3)->frame(), (ui::Rect{{0, 150}, {320, 50}}));
    EXPECT_EQ(table->cellForRow(3)->textLabel()->text(), "row 3");

    table->scrollToBottom();
    EXPECT_EQ(table->contentOffset().y, 500000 - 500);
    EXPECT_FALSE(table->cellForRow(3));
    ASSERT_TRUE(table->cellForRow(9999));
    EXPECT_LE(table->subviews().size(), 30u);

    auto cell = table->cellForRow(9998);
    ASSERT_EQ(cell->gestureRecognizers().size(), 1u);
    std::static_pointer_cast<ui::TapGestureRecognizer>(cell->gestureRecognizers()[0])
        ->tapAt({10, 10});
    EXPECT_THAT(rows->selected, ElementsAre(9998u));

    table->setAllowsSelection(false);
    table->reloadData();
    table->selectRow(9999);
    EXPECT_THAT(rows->selected, ElementsAre(9998u));
    EXPECT_TRUE(table->cellForRow(9999)->gestureRecognizers().empty());
}

// A pushed controller shows under the bar with its title and items; the bar offers a way back
// while there is one, and the controllers hear their appearance.
TEST_F(ScreenPartsTest, NavigationBarsShowTheTopControllersItemsAndGoBack) {
    auto journal = std::make_shared<Journal>();
    auto first = JournalController::create("first", journal);
    auto second = JournalController::create("second", journal);
    first->navigationItem().setTitle("First");
    auto cancel = ui::BarButtonItem::withSystemItem(ui::BarButtonItem::SystemItem::Cancel, {});
    first->navigationItem().setRightBarButtonItem(cancel);
    auto nav = ui::NavigationController::create(first);
    auto window = show(nav);
    auto bar = nav->navigationBar();
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->title(), "First");
    EXPECT_EQ(bar->rightItem(), cancel);
    EXPECT_FALSE(bar->leftItem());
    EXPECT_EQ(first->view()->frame().y(), ui::NavigationBar::kHeight);
    EXPECT_EQ(first->view()->frame().height(),
              window->frame().height() - ui::NavigationBar::kHeight);

    journal->clear();
    second->navigationItem().setTitle("Second");
    nav->pushViewController(second, true);
    loop().runUntilIdle();
    EXPECT_EQ(bar->title(), "Second");
    EXPECT_FALSE(bar->rightItem());
    EXPECT_THAT(*journal, ::testing::IsSupersetOf(
                              {"first:willDisappear", "second:willAppear", "second:didAppear"}));
    ASSERT_TRUE(bar->leftItem());
    EXPECT_EQ(bar->leftItem()->title(), "Back");
    bar->leftItem()->sendActions();
    loop().runUntilIdle();
    EXPECT_EQ(nav->topViewController(), first);
    EXPECT_EQ(bar->title(), "First");
    EXPECT_EQ(nav->popViewController(true), nullptr) << "the last controller stays";

    nav->setNavigationBarHidden(true);
    EXPECT_TRUE(bar->isHidden());
    EXPECT_EQ(first->view()->frame(), nav->view()->bounds());
}

// Buttons run their actions only as a user could tap them.
TEST_F(ScreenPartsTest, ButtonsRunTheirActionsWhenTheyCanBeTapped) {
    auto button = ui::Button::create();
    int taps = 0;
    button->addAction([&] { ++taps; });
    button->sendActions();
    button->setEnabled(false);
    button->sendActions();
    button->setEnabled(true);
    button->setHidden(true);
    button->sendActions();
    EXPECT_EQ(taps, 1);
}

// Named images come from the main bundle, the scale from the file's name; nothing outside the
// bundle can be named.
TEST_F(ScreenPartsTest, NamedImagesComeFromTheBundleOnly) {
    testsupport::TempDir dir;
    const auto bundle = dir.path() / "App";
    std::filesystem::create_directories(bundle / "Plugin.bundle");
    auto context = ui::GraphicsContext::beginImageContext({4, 2}, true, 1.0);
    const auto png = ui::Image::imageWithBitmap(context->bitmap())->pngData();
    ASSERT_TRUE(png);
    auto write = [&](const std::filesystem::path& path) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(png->bytes()), std::streamsize(png->length()));
    };
    write(bundle / "Plugin.bundle/icon@2x.png");
    write(bundle / "plain.png");
    write(dir.path() / "outside.png");
    const auto saved = ns::Bundle::mainBundle();
    ns::Bundle::setMainBundlePath(bundle.string());

    auto icon = ui::Image::imageNamed("Plugin.bundle/icon");
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->scale(), 2.0);
    EXPECT_EQ(icon->size(), (ui::Size{2, 1}));
    EXPECT_TRUE(ui::Image::imageNamed("plain"));
    EXPECT_FALSE(ui::Image::imageNamed("../outside"));
    EXPECT_FALSE(ui::Image::imageNamed("Plugin.bundle/../../outside"));
    EXPECT_FALSE(ui::Image::imageNamed("missing"));
    ns::Bundle::setMainBundlePath(saved ? saved->bundlePath() : std::string());
}

// Closing a presented screen's window asks its delegate as a swipe does, whatever the style.
TEST_F(ScreenPartsTest, ClosingAScreensWindowDismissesItThroughItsDelegate) {
    struct Delegate : ui::AdaptivePresentationControllerDelegate {
        bool allow = true;
        Journal seen;
        bool presentationControllerShouldDismiss(ui::PresentationController&) override {
            seen.push_back("should");
            return allow;
        }
        void presentationControllerDidDismiss(ui::PresentationController&) override {
            seen.push_back("did");
        }
    };
    auto root = ui::ViewController::create();
    auto window = show(root);
    auto screen = ui::ViewController::create();
    screen->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    auto delegate = std::make_shared<Delegate>();
    screen->presentationController().setDelegate(
        std::weak_ptr<ui::AdaptivePresentationControllerDelegate>(delegate));
    root->presentViewController(screen, false);
    loop().runUntilIdle();
    EXPECT_FALSE(screen->presentationController().dismissByUser()) << "not a sheet";

    delegate->allow = false;
    EXPECT_FALSE(screen->presentationController().closeByUser());
    EXPECT_EQ(root->presentedViewController(), screen);

    delegate->allow = true;
    EXPECT_TRUE(screen->presentationController().closeByUser());
    loop().runUntilIdle();
    EXPECT_FALSE(root->presentedViewController());
    EXPECT_THAT(delegate->seen, ElementsAre("should", "should", "did"));
}

}  // namespace
