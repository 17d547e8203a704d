#pragma once

#include <memory>

namespace wk {

// Settings of the pages of the web views that share them.
class Preferences {
public:
    static std::shared_ptr<Preferences> create() { return std::make_shared<Preferences>(); }

    bool javaScriptEnabled() const { return javaScriptEnabled_; }
    bool javaScriptCanOpenWindowsAutomatically() const { return canOpenWindows_; }
    double minimumFontSize() const { return minimumFontSize_; }
    void setMinimumFontSize(double size) { minimumFontSize_ = size; }

private:
    bool javaScriptEnabled_ = true;
    bool canOpenWindows_ = false;
    double minimumFontSize_ = 0;
};

}  // namespace wk
