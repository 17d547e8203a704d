#pragma once

#include <memory>
#include <string>

#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewVisitor.h"

namespace ui {

// One row of a table. The default style shows an image at the left and a line of text beside
// it; a cell may instead carry views of its own.
class TableViewCell : public View {
public:
    void accept(ViewVisitor& visitor) override { visitor.visit(*this); }
    enum class Accessory { None = 0, DisclosureIndicator = 1 };

    explicit TableViewCell(std::string reuseIdentifier = {})
        : reuseIdentifier_(std::move(reuseIdentifier)) {}

    const std::string& reuseIdentifier() const { return reuseIdentifier_; }
    // Made on first use and added to the cell.
    const std::shared_ptr<Label>& textLabel();
    const std::shared_ptr<ImageView>& imageView();
    void setAccessoryType(Accessory accessory) { accessory_ = accessory; }

    // Places the default views in the cell's current bounds (the table calls it after it has
    // sized the cell).
    virtual void layoutSubviews();

private:
    std::string reuseIdentifier_;
    std::shared_ptr<Label> textLabel_;
    std::shared_ptr<ImageView> imageView_;
    Accessory accessory_ = Accessory::None;
};

}  // namespace ui
