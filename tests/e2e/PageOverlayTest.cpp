#include <gtk/gtk.h>

#include <memory>

#include "bridge/HYBViewController.h"
#include "platform/gtk/GtkViewPresenter.h"
#include "platform/ui/Color.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"
#include "tests/e2e/E2EHost.h"

#include <gtest/gtest.h>

namespace {

// Views beside the page: those in front of it are drawn over it, those behind it (the status
// bar's scroll view is one) are hidden by it and get no widget that would take the page's
// clicks and scrolls.
TEST(PageOverlay, OnlyViewsInFrontOfThePageAreDrawnOverIt) {
    E2EHost& host = E2EHost::shared();
    auto* presenter = wk::GtkViewPresenter::installed();
    ASSERT_TRUE(presenter);
    auto root = host.controller()->view();
    auto behind = ui::View::create({{0, 0}, {100, 100}});
    behind->setBackgroundColor(ui::Color(1, 0, 0, 1));
    auto front = ui::View::create({{0, 0}, {100, 100}});
    front->setBackgroundColor(ui::Color(0, 0, 1, 1));
    root->addSubview(behind);
    root->sendSubviewToBack(behind);
    root->addSubview(front);
    presenter->sync();
    EXPECT_NE(presenter->widgetFor(*front), nullptr);
    EXPECT_EQ(presenter->widgetFor(*behind), nullptr);
    front->removeFromSuperview();
    behind->removeFromSuperview();
    presenter->sync();
}

// A view that does not change is not laid out again on the presenter's next turns: each
// layout paints the page under it again, and a page painted before its web process has drawn
// (while it loads) makes the program wait for that process.
TEST(PageOverlay, AnUnchangedLabelIsNotLaidOutAgain) {
    E2EHost& host = E2EHost::shared();
    auto* presenter = wk::GtkViewPresenter::installed();
    ASSERT_TRUE(presenter);
    auto label = ui::Label::create({{10, 10}, {200, 30}});
    label->setText("Loading");
    host.controller()->view()->addSubview(label);
    presenter->sync();
    GtkWidget* widget = presenter->widgetFor(*label);
    ASSERT_TRUE(widget && GTK_IS_LABEL(widget));
    // Held, so that a layout made again cannot come back at the same address.
    PangoLayout* laidOut = PANGO_LAYOUT(g_object_ref(gtk_label_get_layout(GTK_LABEL(widget))));
    presenter->sync();
    presenter->sync();
    EXPECT_EQ(gtk_label_get_layout(GTK_LABEL(widget)), laidOut);
    label->setText("Loaded");
    presenter->sync();
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(widget)), "Loaded");
    g_object_unref(laidOut);
    label->removeFromSuperview();
    presenter->sync();
}

}  // namespace
