#include "tests/support/PresentedScreen.h"

#include "platform/ui/Screen.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace testsupport {
namespace {

// The first visible view, from `view` down, that reaches beyond its parent's bounds.
std::shared_ptr<ui::View> outOfBounds(const std::shared_ptr<ui::View>& view) {
    if (std::dynamic_pointer_cast<ui::ScrollView>(view)) return nullptr;
    const ui::Rect bounds = view->bounds();
    for (const auto& child : view->subviews()) {
        if (child->isHidden()) continue;
        const ui::Rect f = child->frame();
        if (f.x() < 0 || f.y() < 0 || f.maxX() > bounds.width() || f.maxY() > bounds.height()) {
            return child;
        }
        if (auto found = outOfBounds(child)) return found;
    }
    return nullptr;
}

}  // namespace

::testing::AssertionResult liesBelowTheStatusBar(ui::ViewController& screen) {
    auto shared = screen.sharedController();
    auto window = screen.window();
    if (!window || !screen.presentingViewController()) {
        return ::testing::AssertionFailure() << "the screen is not presented in a window";
    }
    const ui::Rect main = ui::Screen::main().bounds();
    if (window->frame() != main) {
        return ::testing::AssertionFailure() << "its window is " << ui::toString(window->frame())
                                             << ", the main window " << ui::toString(main);
    }
    const auto& bar = ui::StatusBar::shared();
    if (bar.isHiddenOver(shared)) return ::testing::AssertionFailure() << "the bar is hidden";
    const double top = bar.frame().height();
    const ui::Rect wanted{0, top, main.width(), main.height() - top};
    if (screen.view()->frame() != wanted) {
        return ::testing::AssertionFailure()
               << "the screen is at " << ui::toString(screen.view()->frame()) << ", not "
               << ui::toString(wanted);
    }
    if (bar.styleOver(shared) != ui::StatusBar::Style::LightContent) {
        return ::testing::AssertionFailure() << "the bar over it is not light";
    }
    if (auto out = outOfBounds(screen.view())) {
        return ::testing::AssertionFailure()
               << "a view at " << ui::toString(out->frame()) << " reaches out of its parent "
               << ui::toString(out->superview()->bounds());
    }
    return ::testing::AssertionSuccess();
}

}  // namespace testsupport
