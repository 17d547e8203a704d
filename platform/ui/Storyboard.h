#pragma once

#include <memory>
#include <string>

namespace ui {

class ViewController;

// A storyboard of the application bundle: the interface file "<name>.interface.json" of the
// main bundle (see InterfaceFile). Its initial controller is a plain controller whose view
// holds the file's top-level views; without the file (or with one that cannot be read, which
// is logged) the view is empty.
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
