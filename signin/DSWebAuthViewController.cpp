#include "signin/DSWebAuthViewController.h"

#include "platform/ui/Screen.h"
#include "platform/wk/WebViewConfiguration.h"

std::shared_ptr<DSWebAuthViewController> DSWebAuthViewController::create(
    std::function<void()> onCancel) {
    return std::make_shared<DSWebAuthViewController>(std::move(onCancel));
}

DSWebAuthViewController::DSWebAuthViewController(std::function<void()> onCancel)
    : onCancel_(std::move(onCancel)) {}

void DSWebAuthViewController::loadView() {
    const ui::Rect bounds = ui::Screen::main().bounds();
    auto root = ui::View::create(bounds);
    root->setBackgroundColor(ui::Color::whiteColor());

    // Weak: the item lives in this controller's toolbar.
    std::weak_ptr<DSWebAuthViewController> weakSelf =
        std::static_pointer_cast<DSWebAuthViewController>(sharedController());
    cancelButton_ =
        ui::BarButtonItem::withSystemItem(ui::BarButtonItem::SystemItem::Cancel, [weakSelf] {
            if (auto self = weakSelf.lock(); self && self->onCancel_) self->onCancel_();
        });
    // The screen may be given less room than the screen's bounds (below the status bar) or
    // more (its window resized): the bar keeps to the top, the page takes the rest.
    toolbar_ = ui::Toolbar::create({0, 0, bounds.width(), kToolbarHeight});
    toolbar_->setAutoresizingMask(ui::kAutoresizingFlexibleWidth);
    toolbar_->setItems({cancelButton_, ui::BarButtonItem::withSystemItem(
                                           ui::BarButtonItem::SystemItem::FlexibleSpace, {})});
    root->addSubview(toolbar_);

    // A configuration of its own: the sign-in page gets no bridge and no application scheme.
    webView_ =
        wk::WebView::create({0, kToolbarHeight, bounds.width(), bounds.height() - kToolbarHeight},
                            wk::WebViewConfiguration::create());
    webView_->setBackgroundColor(ui::Color::whiteColor());
    webView_->setAutoresizingMask(ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleHeight);
    root->addSubview(webView_);
    setView(root);
}
