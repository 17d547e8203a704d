#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/sys/DeviceFacts.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Device.h"
#include "platform/ui/Pasteboard.h"
#include "platform/ui/Screen.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "tests/support/ManualRunLoop.h"

namespace ui {
// gtest prints rectangles as the platform writes them.
inline void PrintTo(const Rect& rect, std::ostream* os) {
    *os << toString(rect);
}
}  // namespace ui

namespace uitest {

// A test of the headless UI: a manual run loop and the process-wide UI state at its defaults.
class HeadlessUi : public testsupport::ManualRunLoop {
protected:
    void SetUp() override {
        ManualRunLoop::SetUp();
        resetUi();
    }
    void TearDown() override {
        ManualRunLoop::TearDown();
        resetUi();
    }
    static void resetUi() {
        ui::Pasteboard::general().clear();
        ui::View::clearRecordedAnimations();
    }

    ns::ScopedSharedInstance<ui::Screen> screen_;
    ns::ScopedSharedInstance<ui::StatusBar> statusBar_;
    ns::ScopedSharedInstance<sys::DeviceFacts> deviceFacts_;
    ns::ScopedSharedInstance<ui::Device> device_;

    // A key window showing the controller, with its appearance completed.
    std::shared_ptr<ui::Window> show(std::shared_ptr<ui::ViewController> root) {
        auto window = ui::Window::create();
        window->setRootViewController(std::move(root));
        window->makeKeyAndVisible();
        loop().runUntilIdle();
        return window;
    }
};

// A controller that writes each life-cycle callback to a shared journal as "name:event".
class JournalController : public ui::ViewController {
public:
    JournalController(std::string name, std::shared_ptr<std::vector<std::string>> journal)
        : name_(std::move(name)), journal_(std::move(journal)) {}
    static std::shared_ptr<JournalController> create(
        std::string name, std::shared_ptr<std::vector<std::string>> journal) {
        return std::make_shared<JournalController>(std::move(name), std::move(journal));
    }

    void loadView() override {
        note("loadView");
        ViewController::loadView();
    }
    void viewDidLoad() override { note("viewDidLoad"); }
    void viewWillAppear(bool) override { note("willAppear"); }
    void viewDidAppear(bool) override { note("didAppear"); }
    void viewWillDisappear(bool) override { note("willDisappear"); }
    void viewDidDisappear(bool) override { note("didDisappear"); }
    void viewWillLayoutSubviews() override { note("willLayout"); }
    void viewDidLayoutSubviews() override { note("didLayout"); }
    void didReceiveMemoryWarning() override { note("memoryWarning"); }

    void note(const std::string& event) { journal_->push_back(name_ + ":" + event); }

private:
    std::string name_;
    std::shared_ptr<std::vector<std::string>> journal_;
};

}  // namespace uitest
