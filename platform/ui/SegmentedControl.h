#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Accessibility.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewVisitor.h"

namespace ui {

// A row of segments, each with a title.
class SegmentedControl : public View, public Accessibility {
public:
    void accept(ViewVisitor& visitor) override { visitor.visit(*this); }

    using View::View;
    static std::shared_ptr<SegmentedControl> create(Rect frame = {}) {
        return std::make_shared<SegmentedControl>(frame);
    }

    size_t numberOfSegments() const { return titles_.size(); }
    // Nothing beyond the last segment or for a segment without a title.
    std::optional<std::string> titleForSegmentAtIndex(size_t index) const;
    // Ignored beyond the last segment.
    void setTitle(std::optional<std::string> title, size_t index);
    // At most at the end.
    void insertSegmentWithTitle(std::optional<std::string> title, size_t index);

private:
    std::vector<std::optional<std::string>> titles_;
};

}  // namespace ui
