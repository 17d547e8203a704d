#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ns/Exception.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/PresentationController.h"
#include "platform/ui/TransitionCoordinator.h"
#include "tests/platform/ui/HeadlessUi.h"
#include "tests/support/LogCapture.h"

namespace {

using ::testing::ElementsAre;
using uitest::JournalController;
using Journal = std::vector<std::string>;

class ViewControllerTest : public uitest::HeadlessUi {
protected:
    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    std::shared_ptr<JournalController> controller(const std::string& name) {
        return JournalController::create(name, journal);
    }
    // The journal so far, emptied.
    Journal take() { return std::exchange(*journal, {}); }
    std::function<void()> noting(const std::string& text) {
        return [j = journal, text] { j->push_back(text); };
    }
};

TEST_F(ViewControllerTest, ViewLoadsOnceOnFirstUse) {
    auto c = controller("a");
    EXPECT_FALSE(c->isViewLoaded());
    auto view = c->view();
    EXPECT_EQ(c->view(), view);
    EXPECT_EQ(view->frame(), ui::Screen::main().bounds());
    EXPECT_THAT(take(), ElementsAre("a:loadView", "a:viewDidLoad"));
}

TEST_F(ViewControllerTest, ShowingAWindowLoadsItsRootAndRunsTheAppearanceInOrder) {
    auto root = controller("root");
    auto window = ui::Window::create();
    window->setRootViewController(root);
    EXPECT_FALSE(root->isViewLoaded()) << "a hidden window does not load its root's view";

    window->makeKeyAndVisible();
    EXPECT_THAT(take(), ElementsAre("root:loadView", "root:viewDidLoad", "root:willAppear",
                                    "root:willLayout", "root:didLayout"));
    EXPECT_EQ(root->view()->superview(), window);
    EXPECT_EQ(ui::Window::keyWindow(), window);

    loop().runUntilIdle();
    EXPECT_THAT(take(), ElementsAre("root:didAppear"));

    window->setHidden(true);
    EXPECT_THAT(take(), ElementsAre("root:willDisappear"));
    loop().runUntilIdle();
    EXPECT_THAT(take(), ElementsAre("root:didDisappear"));
    EXPECT_EQ(ui::Window::keyWindow(), nullptr);
}

TEST_F(ViewControllerTest, FullScreenPresentationCoversThePresenterAndCompletesNextTurn) {
    auto root = controller("root");
    auto window = show(root);
    take();
    auto modal = controller("modal");
    modal->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);

    root->presentViewController(modal, true, noting("presented"));
    EXPECT_THAT(take(), ElementsAre("modal:loadView", "modal:viewDidLoad", "root:willDisappear",
                                    "modal:willAppear", "modal:willLayout", "modal:didLayout"));
    EXPECT_EQ(root->presentedViewController(), modal);
    EXPECT_EQ(modal->presentingViewController(), root);

    loop().runUntilIdle();
    EXPECT_THAT(take(), ElementsAre("root:didDisappear", "modal:didAppear", "presented"));

    modal->dismissViewController(true, noting("dismissed"));
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_THAT(take(), ElementsAre("modal:willDisappear", "root:willAppear", "root:willLayout",
                                    "root:didLayout"));
    loop().runUntilIdle();
    EXPECT_THAT(take(), ElementsAre("modal:didDisappear", "root:didAppear", "dismissed"));
}

TEST_F(ViewControllerTest, ASheetLeavesThePresenterOnScreen) {
    auto root = controller("root");
    auto window = show(root);
    take();
    auto sheet = controller("sheet");  // the automatic style is a sheet

    root->presentViewController(sheet, false);
    loop().runUntilIdle();
    EXPECT_THAT(take(), ElementsAre("sheet:loadView", "sheet:viewDidLoad", "sheet:willAppear",
                                    "sheet:willLayout", "sheet:didLayout", "sheet:didAppear"));
    EXPECT_EQ(root->appearance(), ui::ViewController::Appearance::Appeared);

    root->dismissViewController(false);
    loop().runUntilIdle();
    EXPECT_THAT(take(), ElementsAre("sheet:willDisappear", "sheet:didDisappear"));
}

TEST_F(ViewControllerTest, RefusedPresentationsRunNothing) {
    testsupport::LogCapture log;
    auto root = controller("root");
    auto window = show(root);
    auto first = controller("first");
    root->presentViewController(first, false);
    loop().runUntilIdle();
    take();

    // Already presenting.
    root->presentViewController(controller("second"), false, noting("second presented"));
    // Not in a window.
    auto loose = controller("loose");
    loose->presentViewController(controller("third"), false, noting("third presented"));
    loop().runUntilIdle();
    EXPECT_TRUE(take().empty());
    EXPECT_EQ(root->presentedViewController(), first);
    EXPECT_EQ(log.count("Attempt to present"), 2u);

    // Presenting a controller that is already presented is a programming fault.
    auto other = show(controller("other"));
    EXPECT_THROW(other->rootViewController()->presentViewController(first, false), ns::Exception);
}

TEST_F(ViewControllerTest, DismissingWithNothingToDismissRunsNoCompletion) {
    auto root = controller("root");
    auto window = show(root);
    take();
    root->dismissViewController(true, noting("completion"));
    loop().runUntilIdle();
    EXPECT_TRUE(take().empty());
}

TEST_F(ViewControllerTest, DismissingFromTheMiddleTakesEverythingAbove) {
    auto root = controller("root");
    auto window = show(root);
    auto a = controller("a");
    auto b = controller("b");
    a->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    root->presentViewController(a, false);
    loop().runUntilIdle();
    a->presentViewController(b, false);
    loop().runUntilIdle();
    take();

    root->dismissViewController(false, noting("done"));
    loop().runUntilIdle();
    EXPECT_THAT(take(), ElementsAre("a:willDisappear", "b:willDisappear", "root:willAppear",
                                    "root:willLayout", "root:didLayout", "a:didDisappear",
                                    "b:didDisappear", "root:didAppear", "done"));
    EXPECT_EQ(a->presentedViewController(), nullptr);
    EXPECT_EQ(b->presentingViewController(), nullptr);
    EXPECT_EQ(window->subviews().size(), 1u) << "only the root's view is left";
}

TEST_F(ViewControllerTest, HidingTheWindowFirstMakesALaterDismissalSilent) {
    auto root = controller("root");
    auto window = show(root);
    auto modal = controller("modal");
    root->presentViewController(modal, false);
    loop().runUntilIdle();
    take();

    window->setHidden(true);
    loop().runUntilIdle();
    EXPECT_THAT(take(), ElementsAre("root:willDisappear", "modal:willDisappear",
                                    "root:didDisappear", "modal:didDisappear"));
    root->dismissViewController(true, noting("dismissed"));
    loop().runUntilIdle();
    EXPECT_THAT(take(), ElementsAre("dismissed"));
}

TEST_F(ViewControllerTest, ChildrenFollowTheirParentAndPresentThroughIt) {
    auto host = show(ui::ViewController::create());
    auto inner = controller("inner");
    auto nav = ui::NavigationController::create(inner);
    nav->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    EXPECT_EQ(inner->parentViewController(), nav);
    EXPECT_EQ(inner->navigationController(), nav);

    host->rootViewController()->presentViewController(nav, true);
    loop().runUntilIdle();
    EXPECT_THAT(take(), ElementsAre("inner:loadView", "inner:viewDidLoad", "inner:willAppear",
                                    "inner:willLayout", "inner:didLayout", "inner:didAppear"));
    EXPECT_EQ(inner->view()->superview(), nav->view());
    EXPECT_EQ(inner->presentingViewController(), host->rootViewController());

    // A child presents through its container, and dismissing from the child reaches it too.
    auto alert = controller("alert");
    inner->presentViewController(alert, false);
    EXPECT_EQ(nav->presentedViewController(), alert);
    loop().runUntilIdle();
    take();
    inner->dismissViewController(false);  // inner presents nothing: its presenter dismisses nav
    loop().runUntilIdle();
    EXPECT_THAT(take(), ElementsAre("inner:willDisappear", "alert:willDisappear",
                                    "inner:didDisappear", "alert:didDisappear"));
    EXPECT_EQ(host->rootViewController()->presentedViewController(), nullptr);
}

TEST_F(ViewControllerTest, ChildLosesItsParentWhenTheParentGoes) {
    auto inner = controller("inner");
    {
        auto nav = ui::NavigationController::create(inner);
        EXPECT_TRUE(inner->parentViewController());
    }
    EXPECT_EQ(inner->parentViewController(), nullptr);
    EXPECT_EQ(inner->presentingViewController(), nullptr);
}

class SwipeDelegate : public ui::AdaptivePresentationControllerDelegate {
public:
    std::vector<std::string> calls;
    bool allow = true;
    bool presentationControllerShouldDismiss(ui::PresentationController&) override {
        calls.push_back("should");
        return allow;
    }
    void presentationControllerWillDismiss(ui::PresentationController&) override {
        calls.push_back("will");
    }
    void presentationControllerDidDismiss(ui::PresentationController&) override {
        calls.push_back("did");
    }
};

TEST_F(ViewControllerTest, UserSwipeDismissesASheetAndTellsTheDelegate) {
    auto root = controller("root");
    auto window = show(root);
    auto sheet = controller("sheet");
    auto delegate = std::make_shared<SwipeDelegate>();
    sheet->presentationController().setDelegate(delegate);
    root->presentViewController(sheet, true);
    loop().runUntilIdle();

    delegate->allow = false;
    EXPECT_FALSE(sheet->presentationController().dismissByUser());
    EXPECT_EQ(root->presentedViewController(), sheet);

    delegate->allow = true;
    EXPECT_TRUE(sheet->presentationController().dismissByUser());
    EXPECT_THAT(delegate->calls, ElementsAre("should", "should", "will"));
    loop().runUntilIdle();
    EXPECT_THAT(delegate->calls, ElementsAre("should", "should", "will", "did"));
    EXPECT_EQ(root->presentedViewController(), nullptr);

    auto full = controller("full");
    full->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    root->presentViewController(full, false);
    EXPECT_FALSE(full->presentationController().dismissByUser()) << "full screen cannot be swiped";
}

TEST_F(ViewControllerTest, MemoryWarningReachesEveryLiveController) {
    auto a = controller("a");
    auto b = controller("b");
    ns::NotificationCenter::defaultCenter().post(
        ui::kApplicationDidReceiveMemoryWarningNotification);
    EXPECT_THAT(take(), ElementsAre("a:memoryWarning", "b:memoryWarning"));
}

class SizeController : public ui::ViewController {
public:
    std::vector<std::string> log;
    void viewWillTransitionToSize(ui::Size size, ui::TransitionCoordinator& coordinator) override {
        log.push_back("will " + ui::toString(size) + " at " + ui::toString(view()->frame().size));
        coordinator.animateAlongsideTransition(
            [this] { log.push_back("alongside at " + ui::toString(view()->frame().size)); },
            [this] { log.push_back("completed"); });
        ViewController::viewWillTransitionToSize(size, coordinator);
    }
};

TEST_F(ViewControllerTest, SizeTransitionRunsAlongsideWorkAfterTheNewSize) {
    auto root = std::make_shared<SizeController>();
    auto window = show(root);
    window->transitionToSize({844, 390});
    EXPECT_THAT(root->log, ElementsAre("will {844, 390} at {390, 844}", "alongside at {844, 390}"));
    loop().runUntilIdle();
    EXPECT_EQ(root->log.back(), "completed");
}

TEST_F(ViewControllerTest, KeyRolePassesToTheFrontmostVisibleWindow) {
    auto back = show(ui::ViewController::create());
    auto front = show(ui::ViewController::create());
    front->setWindowLevel(ui::Window::kLevelNormal);
    EXPECT_TRUE(front->isKeyWindow());
    EXPECT_EQ(ui::Window::windows(), (std::vector<std::shared_ptr<ui::Window>>{back, front}));
    front->setHidden(true);
    EXPECT_TRUE(back->isKeyWindow());
    EXPECT_EQ(ui::Window::windows(), (std::vector<std::shared_ptr<ui::Window>>{back}));
}

}  // namespace
