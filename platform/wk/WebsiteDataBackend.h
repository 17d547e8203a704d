#pragma once

#include <functional>
#include <vector>

#include "platform/ns/Date.h"
#include "platform/wk/HTTPCookie.h"

namespace wk {

// Where a website data store really keeps its data when a rendering engine owns it: the store
// then hands every request to the engine's own data manager instead of keeping the data in
// process. Completions run on the main thread.
class WebsiteDataBackend {
public:
    virtual ~WebsiteDataBackend() = default;
    virtual void removeData(unsigned types, ns::Date modifiedSince,
                            std::function<void()> completion) = 0;
    virtual void getAllCookies(std::function<void(std::vector<HTTPCookie>)> completion) = 0;
    virtual void setCookie(const HTTPCookie& cookie, std::function<void()> completion) = 0;
    virtual void deleteCookie(const HTTPCookie& cookie, std::function<void()> completion) = 0;
};

}  // namespace wk
