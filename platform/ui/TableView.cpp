#include "platform/ui/TableView.h"

#include <algorithm>

#include "platform/ui/TapGestureRecognizer.h"

namespace ui {

void TableView::reloadData() {
    for (auto& [row, cell] : cells_) cell->removeFromSuperview();
    cells_.clear();
    heights_.clear();
    tops_.clear();
    auto source = source_.lock();
    auto delegate = tableDelegate_.lock();
    const size_t rows = source ? source->numberOfRows(*this) : 0;
    double top = 0;
    for (size_t row = 0; row < rows; ++row) {
        const double height = std::max(0.0, delegate ? delegate->heightForRow(*this, row) : 44.0);
        tops_.push_back(top);
        heights_.push_back(height);
        top += height;
    }
    setContentSize({frame().width(), top});
    laidOutWidth_ = -1;
    layoutRows();
}

Rect TableView::rectForRow(size_t row) const {
    if (row >= heights_.size()) return {};
    return {{0, tops_[row]}, {frame().width(), heights_[row]}};
}

std::shared_ptr<TableViewCell> TableView::cellForRow(size_t row) const {
    auto found = cells_.find(row);
    return found == cells_.end() ? nullptr : found->second;
}

void TableView::scrollToBottom() {
    if (heights_.empty()) return;
    const double bottom = tops_.back() + heights_.back();
    setContentOffset({0, std::max(0.0, bottom - frame().height())});
}

void TableView::selectRow(size_t row) {
    if (!allowsSelection_ || row >= heights_.size()) return;
    if (auto delegate = tableDelegate_.lock()) delegate->didSelectRow(*this, row);
}

void TableView::setContentOffset(Point offset) {
    ScrollView::setContentOffset(offset);
    layoutRows();
}

void TableView::layoutRows() {
    const double width = frame().width();
    if (width != laidOutWidth_) {
        for (auto& [row, cell] : cells_) cell->removeFromSuperview();
        cells_.clear();
        laidOutWidth_ = width;
        setContentSize({width, contentSize().height});
    }
    // A screenful above and below the visible part.
    const double visibleTop = contentOffset().y;
    const double margin = std::max(frame().height(), 1.0);
    const double from = visibleTop - margin;
    const double to = visibleTop + frame().height() + margin;
    for (auto it = cells_.begin(); it != cells_.end();) {
        const Rect r = rectForRow(it->first);
        if (it->first >= heights_.size() || r.origin.y + r.height() < from || r.origin.y > to) {
            it->second->removeFromSuperview();
            it = cells_.erase(it);
        } else {
            ++it;
        }
    }
    auto source = source_.lock();
    if (!source) return;
    const auto first = std::upper_bound(tops_.begin(), tops_.end(), from);
    size_t row = first == tops_.begin() ? 0 : static_cast<size_t>(first - tops_.begin() - 1);
    for (; row < heights_.size() && tops_[row] < to; ++row) {
        if (cells_.count(row)) continue;
        auto cell = source->cellForRow(*this, row);
        if (!cell) continue;
        cell->setFrame(rectForRow(row));
        cell->layoutSubviews();
        if (allowsSelection_) {
            std::weak_ptr<TableView> weak = sharedSelf<TableView>();
            cell->addGestureRecognizer(
                std::make_shared<TapGestureRecognizer>([weak, row](GestureRecognizer&) {
                    if (auto table = weak.lock()) table->selectRow(row);
                }));
        }
        cells_[row] = cell;
        addSubview(cell);
    }
}

}  // namespace ui
