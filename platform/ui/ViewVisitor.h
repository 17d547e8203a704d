#pragma once

namespace wk {
class WebView;
}  // namespace wk
namespace av {
class CaptureVideoPreviewLayer;
}  // namespace av

namespace ui {

class ActivityIndicatorView;
class Button;
class ImageView;
class Label;
class NavigationBar;
class ScrollView;
class SegmentedControl;
class TableView;
class TableViewCell;
class TextField;
class Toolbar;
class View;

// Whoever handles every kind of view (the display that draws them) hears of each view as its
// own kind: View::accept calls the overload of the view's type. A kind the visitor leaves alone
// is heard of as the kind it derives from. The web view and the camera preview belong to the
// layers above; they are only named here, so that a visitor must say what it does with them.
class ViewVisitor {
public:
    virtual ~ViewVisitor() = default;

    virtual void visit(View& view) = 0;
    virtual void visit(wk::WebView& view) = 0;
    virtual void visit(av::CaptureVideoPreviewLayer& layer) = 0;

    virtual void visit(ActivityIndicatorView& view);
    virtual void visit(Button& view);
    virtual void visit(ImageView& view);
    virtual void visit(Label& view);
    virtual void visit(NavigationBar& view);
    virtual void visit(ScrollView& view);
    virtual void visit(SegmentedControl& view);
    virtual void visit(TableView& view);  // a scroll view
    virtual void visit(TableViewCell& view);
    virtual void visit(TextField& view);
    virtual void visit(Toolbar& view);
};

}  // namespace ui
