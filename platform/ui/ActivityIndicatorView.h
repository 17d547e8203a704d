#pragma once

#include <memory>

#include "platform/ui/View.h"
#include "platform/ui/ViewVisitor.h"

namespace ui {

// A spinner that shows that something is in progress.
class ActivityIndicatorView : public View {
public:
    void accept(ViewVisitor& visitor) override { visitor.visit(*this); }
    enum class Style { WhiteLarge = 0, White = 1, Gray = 2, Medium = 100, Large = 101 };

    explicit ActivityIndicatorView(Style style = Style::Medium) : style_(style) {
        setHidden(true);  // stopped, and hidden while stopped
    }
    static std::shared_ptr<ActivityIndicatorView> create(Style style = Style::Medium) {
        return std::make_shared<ActivityIndicatorView>(style);
    }

    Style style() const { return style_; }
    void setStyle(Style style) { style_ = style; }
    bool hidesWhenStopped() const { return hidesWhenStopped_; }
    void setHidesWhenStopped(bool on);
    bool isAnimating() const { return animating_; }
    void startAnimating();
    void stopAnimating();

private:
    Style style_;
    bool hidesWhenStopped_ = true;
    bool animating_ = false;
};

}  // namespace ui
