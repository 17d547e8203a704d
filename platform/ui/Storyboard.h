#pragma once

#include <memory>
#include <string>

namespace ui {

class ViewController;

// A storyboard of the application bundle. The headless platform has no compiled interface
// files: every storyboard's initial controller is a plain controller whose view is a plain
// view of the screen's bounds, which is what a launch screen amounts to here.
class Storyboard {
  public:
    explicit Storyboard(std::string name) : name_(std::move(name)) {}
    static std::shared_ptr<Storyboard> named(std::string name) {
        return std::make_shared<Storyboard>(std::move(name));
    }

    const std::string& name() const { return name_; }
    std::shared_ptr<ViewController> instantiateInitialViewController() const;

  private:
    std::string name_;
};

}  // namespace ui
