#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <vector>

#include "platform/ui/ScrollView.h"
#include "platform/ui/TableViewCell.h"
#include "platform/ui/ViewVisitor.h"

namespace ui {

class TableView;

// Where a table's rows come from (one section).
class TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual size_t numberOfRows(TableView& table) = 0;
    virtual std::shared_ptr<TableViewCell> cellForRow(TableView& table, size_t row) = 0;
};

// Told of the user's choices; every operation optional.
class TableViewDelegate {
public:
    virtual ~TableViewDelegate() = default;
    virtual double heightForRow(TableView&, size_t) { return 44; }
    virtual void didSelectRow(TableView&, size_t) {}
};

// A scrolling list of rows in one section. Only the rows within a screenful of the visible
// part exist as cells (subviews of the table, at their place in the content); scrolling makes
// the ones that come near and drops the ones that go far, so a long list costs what is seen.
class TableView : public ScrollView {
public:
    void accept(ViewVisitor& visitor) override { visitor.visit(*this); }
    using ScrollView::ScrollView;
    static std::shared_ptr<TableView> create(Rect frame = {}) {
        return std::make_shared<TableView>(frame);
    }

    void setDataSource(std::weak_ptr<TableViewDataSource> source) { source_ = std::move(source); }
    void setTableDelegate(std::weak_ptr<TableViewDelegate> d) { tableDelegate_ = std::move(d); }
    // Whether a tap on a row selects it (tells the delegate); off, taps go to the cells.
    void setAllowsSelection(bool on) { allowsSelection_ = on; }
    bool showsSeparators() const { return separators_; }
    void setShowsSeparators(bool on) { separators_ = on; }

    // Asks the data source again: row count, heights, and the cells now in view.
    void reloadData();
    size_t numberOfRows() const { return heights_.size(); }
    // The rectangle of the row in the content.
    Rect rectForRow(size_t row) const;
    // The row's cell while it exists (near the visible part), else null.
    std::shared_ptr<TableViewCell> cellForRow(size_t row) const;
    // Scrolls so that the last row's bottom is at the bottom of the view (no rows: nothing).
    void scrollToBottom();
    // The user taps the row: the delegate hears of it when selection is allowed.
    void selectRow(size_t row);

    void setContentOffset(Point offset) override;
    // Makes and drops cells for the current offset and width.
    void layoutRows();

private:
    std::weak_ptr<TableViewDataSource> source_;
    std::weak_ptr<TableViewDelegate> tableDelegate_;
    std::vector<double> heights_;
    std::vector<double> tops_;
    std::map<size_t, std::shared_ptr<TableViewCell>> cells_;
    double laidOutWidth_ = -1;
    bool allowsSelection_ = true;
    bool separators_ = true;
};

}  // namespace ui
