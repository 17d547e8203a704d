#include "platform/wk/HTTPCookieStore.h"

#include "platform/dispatch/RunLoop.h"
#include "platform/wk/WebsiteDataBackend.h"

namespace wk {
namespace {

void later(std::function<void()> fn) {
    if (fn) dispatch::RunLoop::main().post(std::move(fn));
}

}  // namespace

void HTTPCookieStore::getAllCookies(std::function<void(std::vector<HTTPCookie>)> completion) const {
    if (!completion) return;
    if (backend_) return backend_->getAllCookies(std::move(completion));
    std::vector<HTTPCookie> cookies;
    for (auto& e : entries_) cookies.push_back(e.cookie);
    later([cookies = std::move(cookies), completion = std::move(completion)] {
        completion(cookies);
    });
}

void HTTPCookieStore::setCookie(HTTPCookie cookie, std::function<void()> completion) {
    if (backend_) return backend_->setCookie(cookie, std::move(completion));
    std::erase_if(entries_, [&](const Entry& e) { return e.cookie.sameIdentity(cookie); });
    entries_.push_back({std::move(cookie), ns::Date::now()});
    later(std::move(completion));
}

void HTTPCookieStore::deleteCookie(const HTTPCookie& cookie, std::function<void()> completion) {
    if (backend_) return backend_->deleteCookie(cookie, std::move(completion));
    std::erase_if(entries_, [&](const Entry& e) { return e.cookie.sameIdentity(cookie); });
    later(std::move(completion));
}

void HTTPCookieStore::removeCookiesSetSince(ns::Date date) {
    std::erase_if(entries_, [&](const Entry& e) { return e.setAt >= date; });
}

}  // namespace wk
