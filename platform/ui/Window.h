#pragma once

#include <memory>
#include <vector>

#include "platform/ui/Screen.h"
#include "platform/ui/View.h"

namespace ui {

class ViewController;

// A window: the root of a view tree, showing its root view controller and what that presents.
// Windows start hidden. At most one visible window is the key window. Main thread only.
class Window : public View {
public:
    static constexpr double kLevelNormal = 0;

    explicit Window(Rect frame);
    static std::shared_ptr<Window> create(Rect frame = Screen::main().bounds()) {
        return std::make_shared<Window>(frame);
    }
    ~Window() override;

    std::shared_ptr<Window> sharedWindow() { return sharedSelf<Window>(); }

    // The root controller's view fills the window while it is visible; replacing the root
    // makes the old one leave the screen and the new one come on.
    const std::shared_ptr<ViewController>& rootViewController() const { return root_; }
    void setRootViewController(std::shared_ptr<ViewController> controller);

    void setWindowLevel(double level) { level_ = level; }

    // Shows the window (its root controller's view loads now) and makes it the key window.
    void makeKeyAndVisible();
    void makeKeyWindow();
    bool isKeyWindow() const;
    // Showing puts the root controller and what it presents on screen; hiding takes them off
    // and hands the key role to the frontmost other visible window.
    void setHidden(bool hidden) override;

    // The controllers on screen, bottom to top: the root, then each presented controller down
    // to the topmost one that hides what is under it. Empty while hidden.
    std::vector<std::shared_ptr<ViewController>> visibleControllers();

    // The window changes size (a rotation): the controllers hear viewWillTransitionToSize,
    // then the views take the new size and what the controllers asked to run alongside runs.
    void transitionToSize(Size size);

    static std::shared_ptr<Window> keyWindow();
    // The visible windows, back to front (by level, then by the order they were shown).
    static std::vector<std::shared_ptr<Window>> windows();

private:
    void installRootView();
    void changeScreen(bool hidden, std::shared_ptr<ViewController> root);

    std::shared_ptr<ViewController> root_;
    double level_ = kLevelNormal;
};

}  // namespace ui
