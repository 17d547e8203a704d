#pragma once

#include <memory>

#include "platform/ui/ScrollViewDelegate.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewVisitor.h"

namespace ui {

// A view whose content can be larger than itself.
class ScrollView : public View {
public:
    void accept(ViewVisitor& visitor) override { visitor.visit(*this); }
    static constexpr double kDecelerationRateNormal = 0.998;
    static constexpr double kDecelerationRateFast = 0.99;

    using View::View;
    static std::shared_ptr<ScrollView> create(Rect frame = {}) {
        return std::make_shared<ScrollView>(frame);
    }

    Point contentOffset() const { return contentOffset_; }
    virtual void setContentOffset(Point offset) { Display::update(contentOffset_, offset); }
    Size contentSize() const { return contentSize_; }
    void setContentSize(Size size) { Display::update(contentSize_, size); }

    bool bounces() const { return bounces_; }
    void setBounces(bool on) { bounces_ = on; }
    double decelerationRate() const { return decelerationRate_; }
    void setDecelerationRate(double rate) { decelerationRate_ = rate; }
    bool scrollsToTop() const { return scrollsToTop_; }
    void setScrollsToTop(bool on) { scrollsToTop_ = on; }

    std::shared_ptr<ScrollViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<ScrollViewDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    // The status bar was tapped and this is the one view that scrolls to top: asks the
    // delegate, then moves the content to its top. Answers whether it moved.
    bool scrollToTopForStatusBarTap();

private:
    Point contentOffset_;
    Size contentSize_;
    bool bounces_ = true;
    double decelerationRate_ = kDecelerationRateNormal;
    bool scrollsToTop_ = true;
    std::weak_ptr<ScrollViewDelegate> delegate_;
};

}  // namespace ui
