#include "bridge/UIView+org_zovozu_hybrid_UIView_Extension.h"

#include "platform/ui/ScrollView.h"
#include "platform/wk/WebView.h"

std::shared_ptr<ui::ScrollView> scrollView(const ui::View& view) {
    if (const auto* web = dynamic_cast<const wk::WebView*>(&view)) return web->scrollView();
    return nullptr;
}
