#pragma once

#include <memory>

namespace ui {
class ScrollView;
class View;
}  // namespace ui

// The view's own scroll view when its class has one (a web view answers with its scroll
// view); null for any other view.
std::shared_ptr<ui::ScrollView> scrollView(const ui::View& view);
