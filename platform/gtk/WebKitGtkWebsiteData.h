#pragma once

#include <webkit2/webkit2.h>

#include "platform/gtk/GObjectRef.h"
#include "platform/wk/WebsiteDataBackend.h"

namespace wk {

// The default website data store's data as the web context's own data manager keeps it: what
// the store clears and the cookies it lists or deletes are those the pages really use.
class WebKitGtkWebsiteData : public WebsiteDataBackend {
public:
    explicit WebKitGtkWebsiteData(WebKitWebsiteDataManager* manager);

    void removeData(unsigned types, ns::Date modifiedSince,
                    std::function<void()> completion) override;
    void getAllCookies(std::function<void(std::vector<HTTPCookie>)> completion) override;
    void setCookie(const HTTPCookie& cookie, std::function<void()> completion) override;
    void deleteCookie(const HTTPCookie& cookie, std::function<void()> completion) override;

private:
    WebKitCookieManager* cookieManager() const;

    GObjectRef<WebKitWebsiteDataManager> manager_;
};

}  // namespace wk
