#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/ns/Date.h"
#include "platform/wk/HTTPCookie.h"

namespace wk {

class WebsiteDataBackend;

// The cookies of one website data store. Completions run on a later turn of the main run
// loop, as the platform's store answers asynchronously. Main thread only.
class HTTPCookieStore {
public:
    void getAllCookies(std::function<void(std::vector<HTTPCookie>)> completion) const;
    // Replaces a cookie of the same identity.
    void setCookie(HTTPCookie cookie, std::function<void()> completion = {});
    void deleteCookie(const HTTPCookie& cookie, std::function<void()> completion = {});

private:
    friend class WebsiteDataStore;
    // Set by the owning store when an engine keeps the cookies.
    std::shared_ptr<WebsiteDataBackend> backend_;
    void removeCookiesSetSince(ns::Date date);

    struct Entry {
        HTTPCookie cookie;
        ns::Date setAt;
    };
    std::vector<Entry> entries_;
};

}  // namespace wk
