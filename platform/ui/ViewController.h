#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/ns/Object.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/InterfaceOrientation.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/View.h"

namespace ui {

class NavigationController;
class PresentationController;
class TransitionCoordinator;
class Window;

enum class ModalPresentationStyle {
    Automatic = -2,  // a page sheet
    FullScreen = 0,
    PageSheet = 1,
    FormSheet = 2,
    CurrentContext = 3,
    Custom = 4,
    OverCurrentContext = 6,
};

enum class ModalTransitionStyle {
    CoverVertical = 0,
    FlipHorizontal = 1,
    CrossDissolve = 2,
};

// Manages one view and its place on screen: loads the view lazily, presents and dismisses
// other controllers, answers orientation and status bar questions.
//
// Appearance follows a fixed order. The view loads (loadView, viewDidLoad) the first time it
// is needed. When a controller comes on screen (made a visible window's root, or presented)
// it hears viewWillAppear, viewWillLayoutSubviews and viewDidLayoutSubviews at once and
// viewDidAppear on the next turn of the main run loop; one that leaves the screen hears
// viewWillDisappear at once and viewDidDisappear on the next turn. A controller covered by a
// full-screen presentation leaves the screen; one under a sheet or an alert stays. Completions
// of present and dismiss run on the next turn, after the did-callbacks. Child controllers hear
// what their parent hears. Main thread only.
class ViewController : public ns::Object {
public:
    enum class Appearance { Disappeared, Appearing, Appeared, Disappearing };

    ViewController();
    ~ViewController() override;
    static std::shared_ptr<ViewController> create() { return std::make_shared<ViewController>(); }
    std::shared_ptr<ViewController> sharedController() { return sharedSelf<ViewController>(); }

    // The view, loaded on first use.
    std::shared_ptr<View> view();
    bool isViewLoaded() const { return static_cast<bool>(view_); }
    void loadViewIfNeeded() { view(); }
    void setView(std::shared_ptr<View> view) { view_ = std::move(view); }

    virtual void loadView();  // a plain view of the screen's bounds
    virtual void viewDidLoad() {}
    virtual void viewWillAppear(bool /*animated*/) {}
    virtual void viewDidAppear(bool /*animated*/) {}
    virtual void viewWillDisappear(bool /*animated*/) {}
    virtual void viewDidDisappear(bool /*animated*/) {}
    virtual void viewWillLayoutSubviews() {}
    virtual void viewDidLayoutSubviews() {}
    // The window's size is about to change; the default passes it on to the children and to
    // the presented controller.
    virtual void viewWillTransitionToSize(Size size, TransitionCoordinator& coordinator);
    // The view alone changes size, as a presented screen does whose own window on a desktop
    // the user resizes: this controller hears viewWillTransitionToSize (and passes it on), then
    // the view takes the size, keeping its origin.
    void transitionViewToSize(Size size);
    // Called for every live controller when the application posts its memory warning.
    virtual void didReceiveMemoryWarning() {}

    Appearance appearance() const { return appearance_; }

    // Presents `controller` above this one (a child presents through its outermost parent).
    // Its view fills the window, but for the status bar's height at the top where its style
    // starts it below the bar (see liesBelowStatusBar). Refused with a log line when this
    // controller is not in a visible window or already presents another; presenting one that
    // is already presented elsewhere throws.
    virtual void presentViewController(const std::shared_ptr<ViewController>& controller,
                                       bool animated, std::function<void()> completion = {});
    // Dismisses what this controller presents (with everything above it), or, when it presents
    // nothing, this controller itself from its presenter. Nothing to dismiss: nothing happens
    // and the completion does not run.
    virtual void dismissViewController(bool animated, std::function<void()> completion = {});
    std::shared_ptr<ViewController> presentedViewController() const { return presented_; }
    // The controller that presents this one, or this one's parent.
    std::shared_ptr<ViewController> presentingViewController() const;
    ModalPresentationStyle modalPresentationStyle() const { return presentationStyle_; }
    void setModalPresentationStyle(ModalPresentationStyle style) { presentationStyle_ = style; }
    ModalTransitionStyle modalTransitionStyle() const { return transitionStyle_; }
    void setModalTransitionStyle(ModalTransitionStyle style) { transitionStyle_ = style; }
    PresentationController& presentationController();

    // Containment.
    std::shared_ptr<ViewController> parentViewController() const;
    const std::vector<std::shared_ptr<ViewController>>& childViewControllers() const {
        return children_;
    }
    void addChildViewController(const std::shared_ptr<ViewController>& child);
    void removeFromParentViewController();
    // The navigation controller that this controller is in, or null.
    std::shared_ptr<NavigationController> navigationController() const;

    // What the navigation bar shows while this controller is the top of a navigation stack.
    NavigationItem& navigationItem() { return navigationItem_; }
    const NavigationItem& navigationItem() const { return navigationItem_; }

    // The window that shows this controller's view, or null.
    std::shared_ptr<Window> window() const;

    // Orientation and status bar answers.
    virtual InterfaceOrientationMask supportedInterfaceOrientations() const;
    virtual bool shouldAutorotate() const { return true; }
    virtual bool prefersStatusBarHidden() const { return false; }
    virtual StatusBar::Style preferredStatusBarStyle() const { return StatusBar::Style::Default; }
    // A child whose answers stand for this controller's, or null.
    virtual std::shared_ptr<ViewController> childViewControllerForStatusBarHidden() const {
        return nullptr;
    }
    virtual std::shared_ptr<ViewController> childViewControllerForStatusBarStyle() const {
        return nullptr;
    }
    // Asks the platform to read the status bar answers again.
    void setNeedsStatusBarAppearanceUpdate();

    // Whether a presentation of this style hides what is under it.
    static bool coversPresenter(ModalPresentationStyle style);
    // Whether a presentation of this style starts below the status bar: one that leaves its
    // presenter on screen around it (a sheet, or over the current context). One that covers
    // the presenter lies under the bar and leaves room for it itself; a custom one (an alert)
    // places itself.
    static bool liesBelowStatusBar(ModalPresentationStyle style);
    // Keeps the view of each controller presented in a visible window below the status bar
    // where its style puts it there, while the bar shows over it: its top edge follows the
    // bar, its other edges stay (a screen the user resized keeps its size otherwise). The
    // status bar calls it whenever it may have changed.
    static void placePresentedViews();

    // Runs the appearance callbacks that a change of the screen's contents calls for: `before`
    // and `after` list the controllers on screen (top-level ones; children follow their parent)
    // before and after the change. Will-callbacks run now; did-callbacks, then `completion`,
    // then a status bar update run on the next turn.
    static void transitionAppearance(const std::vector<std::shared_ptr<ViewController>>& before,
                                     const std::vector<std::shared_ptr<ViewController>>& after,
                                     bool animated, std::function<void()> completion = {});
    // Told after every present and dismiss, once the presented chain has changed (a display
    // that draws the screens follows at once). One observer per process; empty removes it.
    static void setPresentationObserver(std::function<void()> observer);

    // The presented chain from this controller upward: this, what it presents, and so on.
    std::vector<std::shared_ptr<ViewController>> presentationChain();

private:
    friend class Window;

    void beginAppearance(bool appearing, bool animated);
    void endAppearance(bool animated);
    void dismissPresented(bool animated, std::function<void()> completion);
    static void notifyPresentationObserver();
    // How far below its window's top this presented controller's view starts: the status
    // bar's height where the bar shows over a screen that lies below it, else none.
    double statusBarInset();
    ViewController& outermostParent();

    std::shared_ptr<View> view_;
    Appearance appearance_ = Appearance::Disappeared;
    std::shared_ptr<ViewController> presented_;
    std::weak_ptr<ViewController> presenting_;
    ViewController* parent_ = nullptr;  // cleared by the parent when it goes
    std::vector<std::shared_ptr<ViewController>> children_;
    ModalPresentationStyle presentationStyle_ = ModalPresentationStyle::Automatic;
    ModalTransitionStyle transitionStyle_ = ModalTransitionStyle::CoverVertical;
    std::unique_ptr<PresentationController> presentationController_;
    NavigationItem navigationItem_;
};

}  // namespace ui
