#include "platform/ui/ViewVisitor.h"

#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TableViewCell.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Toolbar.h"

namespace ui {

void ViewVisitor::visit(ActivityIndicatorView& view) {
    visit(static_cast<View&>(view));
}
void ViewVisitor::visit(Button& view) {
    visit(static_cast<View&>(view));
}
void ViewVisitor::visit(ImageView& view) {
    visit(static_cast<View&>(view));
}
void ViewVisitor::visit(Label& view) {
    visit(static_cast<View&>(view));
}
void ViewVisitor::visit(NavigationBar& view) {
    visit(static_cast<View&>(view));
}
void ViewVisitor::visit(ScrollView& view) {
    visit(static_cast<View&>(view));
}
void ViewVisitor::visit(SegmentedControl& view) {
    visit(static_cast<View&>(view));
}
void ViewVisitor::visit(TableView& view) {
    visit(static_cast<ScrollView&>(view));
}
void ViewVisitor::visit(TableViewCell& view) {
    visit(static_cast<View&>(view));
}
void ViewVisitor::visit(TextField& view) {
    visit(static_cast<View&>(view));
}
void ViewVisitor::visit(Toolbar& view) {
    visit(static_cast<View&>(view));
}

}  // namespace ui
