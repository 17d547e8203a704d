#pragma once

namespace ui {

class ScrollView;

// What a scroll view asks and tells its delegate; every operation is optional.
class ScrollViewDelegate {
public:
    virtual ~ScrollViewDelegate() = default;
    // A tap on the status bar is about to scroll the view to its top; false prevents it.
    virtual bool scrollViewShouldScrollToTop(ScrollView&) { return true; }
    virtual void scrollViewDidScrollToTop(ScrollView&) {}
};

}  // namespace ui
