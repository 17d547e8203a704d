#include "platform/ui/Display.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/av/CaptureDevice.h"
#include "platform/av/CaptureDeviceInput.h"
#include "platform/av/CaptureSession.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Bitmap.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TableViewCell.h"
#include "platform/ui/TapGestureRecognizer.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewVisitor.h"
#include "tests/platform/ui/HeadlessUi.h"

namespace {

int gUpdates = 0;

// The display as the presenter is one: it counts what it is told.
class DisplayTest : public uitest::HeadlessUi {
protected:
    void SetUp() override {
        HeadlessUi::SetUp();
        gUpdates = 0;
        ui::Display::setObserver([] { ++gUpdates; });
    }
    void TearDown() override {
        ui::Display::setObserver(nullptr);
        HeadlessUi::TearDown();
    }
};

// Whatever the display draws tells it when it changes, and not when it is set to what it
// already is: a change it is not told of stays off the screen, and one told of needlessly
// draws everything again.
TEST_F(DisplayTest, DrawnChangesAreToldAndNothingElse) {
    auto view = ui::View::create();
    auto child = ui::View::create();
    auto label = ui::Label::create();
    auto button = std::make_shared<ui::Button>();
    auto picture = ui::Image::imageWithBitmap(ui::Bitmap::create(2, 2));
    auto imageView = ui::ImageView::create();
    auto field = ui::TextField::create();
    auto spinner = ui::ActivityIndicatorView::create();
    auto toolbar = ui::Toolbar::create();
    auto item = std::make_shared<ui::BarButtonItem>();
    auto navigationItem = std::make_shared<ui::NavigationItem>();
    auto scroll = std::make_shared<ui::ScrollView>();
    auto tap = std::make_shared<ui::TapGestureRecognizer>([](ui::GestureRecognizer&) {});
    const ui::Color red(1, 0, 0, 1);
    const std::vector<std::pair<std::string, std::function<void()>>> changes = {
        {"frame",
         [&] {
             view->setFrame({{1, 2}, {3, 4}});
         }},
        {"centre",
         [&] {
             view->setCenter({10, 10});
         }},
        {"alpha", [&] { view->setAlpha(0.5); }},
        {"hidden", [&] { view->setHidden(true); }},
        {"background", [&] { view->setBackgroundColor(red); }},
        {"tint", [&] { view->setTintColor(red); }},
        {"content mode", [&] { view->setContentMode(ui::ContentMode::ScaleAspectFit); }},
        {"interaction", [&] { view->setUserInteractionEnabled(false); }},
        {"subview added", [&] { view->addSubview(child); }},
        {"tap recognizer", [&] { view->addGestureRecognizer(tap); }},
        {"label text", [&] { label->setText("text"); }},
        {"label colour", [&] { label->setTextColor(red); }},
        {"label alignment", [&] { label->setTextAlignment(ui::Label::TextAlignment::Center); }},
        {"accessibility label", [&] { label->setAccessibilityLabel("name"); }},
        {"accessibility hint", [&] { label->setAccessibilityHint("hint"); }},
        {"accessibility value", [&] { label->setAccessibilityValue("value"); }},
        {"button enabled", [&] { button->setEnabled(false); }},
        {"image", [&] { imageView->setImage(picture); }},
        {"field text", [&] { field->setText("typed"); }},
        {"secure entry", [&] { field->setSecureTextEntry(true); }},
        {"spinner", [&] { spinner->startAnimating(); }},
        {"toolbar items", [&] { toolbar->setItems({item}); }},
        {"toolbar tint", [&] { toolbar->setBarTintColor(red); }},
        {"item title", [&] { item->setTitle("Done"); }},
        {"item image", [&] { item->setImage(picture); }},
        {"item enabled", [&] { item->setEnabled(false); }},
        {"item tint", [&] { item->setTintColor(red); }},
        {"navigation title", [&] { navigationItem->setTitle("Title"); }},
        {"navigation right item", [&] { navigationItem->setRightBarButtonItem(item); }},
        {"scroll offset",
         [&] {
             scroll->setContentOffset({0, 40});
         }},
        {"content size",
         [&] {
             scroll->setContentSize({10, 400});
         }},
        {"status bar style",
         [] {
             ui::StatusBar::shared().setViewControllerBasedAppearance(false);
             ui::StatusBar::shared().setStyle(ui::StatusBar::Style::LightContent);
         }},
        {"status bar hidden", [] { ui::StatusBar::shared().setHidden(true); }},
        {"subview removed", [&] { child->removeFromSuperview(); }},
        {"tap recognizer removed", [&] { view->removeGestureRecognizer(tap); }},
    };
    for (const auto& [name, change] : changes) {
        gUpdates = 0;
        change();
        EXPECT_GE(gUpdates, 1) << name;
        gUpdates = 0;
        change();
        EXPECT_EQ(gUpdates, 0) << name << " again";
    }
    // A button's title or image for a state is told each time it is set.
    gUpdates = 0;
    button->setTitle("OK", ui::Button::kControlStateNormal);
    EXPECT_EQ(gUpdates, 1);
    button->setImage(picture, ui::Button::kControlStateNormal);
    EXPECT_EQ(gUpdates, 2);
}

// A camera's frames come from no setter: the session tells the display of each one, so that
// its preview shows it.
TEST_F(DisplayTest, EachCameraFrameIsTold) {
    std::shared_ptr<const ui::Bitmap> picture = ui::Bitmap::create(4, 4);
    auto device = std::make_shared<av::CaptureDevice>(
        "back", av::CaptureDevicePosition::Back, av::CaptureDevice::Capabilities{},
        [picture](dispatch::Duration) { return picture; });
    auto session = av::CaptureSession::create();
    auto input = av::CaptureDeviceInput::deviceInputWithDevice(device);
    ASSERT_TRUE(input.ok());
    session->addInput(input.value());
    session->startRunning();
    gUpdates = 0;
    for (int frame = 1; frame <= 3; ++frame) {
        loop().advanceBy(std::chrono::milliseconds(1000 / 15 + 1));
        ASSERT_EQ(session->frameCount(), uint64_t(frame));
        EXPECT_EQ(gUpdates, frame);
    }
    session->stopRunning();
}

// Each view is heard of as its own kind, so that one who draws them needs no casts; a kind
// the visitor leaves alone is heard of as the kind it derives from.
TEST_F(DisplayTest, ViewsAreVisitedAsTheirKind) {
    struct Kinds : ui::ViewVisitor {
        std::string heard;
        void visit(ui::View&) override { heard = "view"; }
        void visit(wk::WebView&) override { heard = "web view"; }
        void visit(av::CaptureVideoPreviewLayer&) override { heard = "preview"; }
        void visit(ui::Label&) override { heard = "label"; }
        void visit(ui::Button&) override { heard = "button"; }
        void visit(ui::ImageView&) override { heard = "image"; }
        void visit(ui::TextField&) override { heard = "field"; }
        void visit(ui::ActivityIndicatorView&) override { heard = "spinner"; }
        void visit(ui::ScrollView&) override { heard = "scroll"; }
        void visit(ui::TableViewCell&) override { heard = "cell"; }
        void visit(ui::Toolbar&) override { heard = "toolbar"; }
        void visit(ui::SegmentedControl&) override { heard = "segments"; }
    };
    const std::vector<std::pair<std::shared_ptr<ui::View>, std::string>> views = {
        {ui::View::create(), "view"},
        {ui::Label::create(), "label"},
        {std::make_shared<ui::Button>(), "button"},
        {ui::ImageView::create(), "image"},
        {ui::TextField::create(), "field"},
        {ui::ActivityIndicatorView::create(), "spinner"},
        {std::make_shared<ui::ScrollView>(), "scroll"},
        {ui::TableView::create(), "scroll"},  // left alone: a scroll view
        {std::make_shared<ui::TableViewCell>(), "cell"},
        {ui::Toolbar::create(), "toolbar"},
        {std::make_shared<ui::SegmentedControl>(), "segments"},
    };
    for (const auto& [view, kind] : views) {
        Kinds kinds;
        view->accept(kinds);
        EXPECT_EQ(kinds.heard, kind);
    }
}

}  // namespace
