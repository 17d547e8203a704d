#include "platform/gtk/WebKitGtkWebsiteData.h"

#include <libsoup/soup.h>

#include <memory>

#include "platform/wk/WebsiteDataStore.h"

namespace wk {
namespace {

// A completion carried through GLib's asynchronous calls; the callback takes it back.
template <class Fn>
gpointer carry(Fn fn) {
    return new Fn(std::move(fn));
}
template <class Fn>
std::unique_ptr<Fn> takeBack(gpointer data) {
    return std::unique_ptr<Fn>(static_cast<Fn*>(data));
}

using Done = std::function<void()>;
using CookiesDone = std::function<void(std::vector<HTTPCookie>)>;

WebKitWebsiteDataTypes engineTypes(unsigned types) {
    if ((types & kWebsiteDataAll) == kWebsiteDataAll) return WEBKIT_WEBSITE_DATA_ALL;
    unsigned out = 0;
    if (types & kWebsiteDataCookies) out |= WEBKIT_WEBSITE_DATA_COOKIES;
    if (types & kWebsiteDataDiskCache) out |= WEBKIT_WEBSITE_DATA_DISK_CACHE;
    if (types & kWebsiteDataMemoryCache) out |= WEBKIT_WEBSITE_DATA_MEMORY_CACHE;
    if (types & kWebsiteDataLocalStorage) out |= WEBKIT_WEBSITE_DATA_LOCAL_STORAGE;
    if (types & kWebsiteDataSessionStorage) out |= WEBKIT_WEBSITE_DATA_SESSION_STORAGE;
    if (types & kWebsiteDataIndexedDBDatabases) out |= WEBKIT_WEBSITE_DATA_INDEXEDDB_DATABASES;
    if (types & kWebsiteDataOfflineWebApplicationCache) {
        out |= WEBKIT_WEBSITE_DATA_OFFLINE_APPLICATION_CACHE;
    }
    if (types & kWebsiteDataServiceWorkerRegistrations) {
        out |= WEBKIT_WEBSITE_DATA_SERVICE_WORKER_REGISTRATIONS;
    }
    return static_cast<WebKitWebsiteDataTypes>(out);
}

HTTPCookie fromSoup(SoupCookie* cookie) {
    HTTPCookie out;
    out.name = soup_cookie_get_name(cookie);
    out.value = soup_cookie_get_value(cookie);
    out.domain = soup_cookie_get_domain(cookie);
    out.path = soup_cookie_get_path(cookie);
    if (GDateTime* expires = soup_cookie_get_expires(cookie)) {
        out.expiresDate =
            ns::Date::fromTimeIntervalSince1970(static_cast<double>(g_date_time_to_unix(expires)));
    }
    out.isSecure = soup_cookie_get_secure(cookie);
    out.isHTTPOnly = soup_cookie_get_http_only(cookie);
    return out;
}

SoupCookie* toSoup(const HTTPCookie& cookie) {
    SoupCookie* out = soup_cookie_new(cookie.name.c_str(), cookie.value.c_str(),
                                      cookie.domain.c_str(), cookie.path.c_str(), -1);
    if (cookie.expiresDate) {
        GDateTime* expires = g_date_time_new_from_unix_utc(
            static_cast<gint64>(cookie.expiresDate->timeIntervalSince1970()));
        soup_cookie_set_expires(out, expires);
        g_date_time_unref(expires);
    }
    soup_cookie_set_secure(out, cookie.isSecure);
    soup_cookie_set_http_only(out, cookie.isHTTPOnly);
    return out;
}

}  // namespace

WebKitGtkWebsiteData::WebKitGtkWebsiteData(WebKitWebsiteDataManager* manager)
    : manager_(GObjectRef<WebKitWebsiteDataManager>::retain(manager)) {}

WebKitCookieManager* WebKitGtkWebsiteData::cookieManager() const {
    return webkit_website_data_manager_get_cookie_manager(manager_.get());
}

void WebKitGtkWebsiteData::removeData(unsigned types, ns::Date modifiedSince, Done completion) {
    // A span of 0 clears everything, whenever it was made.
    const double since = modifiedSince.timeIntervalSince1970();
    const double now = ns::Date::now().timeIntervalSince1970();
    const GTimeSpan span = since <= 0 ? 0 : static_cast<GTimeSpan>((now - since) * G_USEC_PER_SEC);
    webkit_website_data_manager_clear(
        manager_.get(), engineTypes(types), span, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto done = takeBack<Done>(data);
            webkit_website_data_manager_clear_finish(WEBKIT_WEBSITE_DATA_MANAGER(source), result,
                                                     nullptr);
            if (*done) (*done)();
        },
        carry(Done(std::move(completion))));
}

void WebKitGtkWebsiteData::getAllCookies(CookiesDone completion) {
    webkit_cookie_manager_get_all_cookies(
        cookieManager(), nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto done = takeBack<CookiesDone>(data);
            GList* list = webkit_cookie_manager_get_all_cookies_finish(
                WEBKIT_COOKIE_MANAGER(source), result, nullptr);
            std::vector<HTTPCookie> cookies;
            for (GList* item = list; item; item = item->next) {
                cookies.push_back(fromSoup(static_cast<SoupCookie*>(item->data)));
            }
            g_list_free_full(list, reinterpret_cast<GDestroyNotify>(soup_cookie_free));
            (*done)(std::move(cookies));
        },
        carry(CookiesDone(std::move(completion))));
}

void WebKitGtkWebsiteData::setCookie(const HTTPCookie& cookie, Done completion) {
    SoupCookie* soup = toSoup(cookie);
    webkit_cookie_manager_add_cookie(
        cookieManager(), soup, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto done = takeBack<Done>(data);
            webkit_cookie_manager_add_cookie_finish(WEBKIT_COOKIE_MANAGER(source), result, nullptr);
            if (*done) (*done)();
        },
        carry(Done(std::move(completion))));
    soup_cookie_free(soup);
}

void WebKitGtkWebsiteData::deleteCookie(const HTTPCookie& cookie, Done completion) {
    SoupCookie* soup = toSoup(cookie);
    webkit_cookie_manager_delete_cookie(
        cookieManager(), soup, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto done = takeBack<Done>(data);
            webkit_cookie_manager_delete_cookie_finish(WEBKIT_COOKIE_MANAGER(source), result,
                                                       nullptr);
            if (*done) (*done)();
        },
        carry(Done(std::move(completion))));
    soup_cookie_free(soup);
}

}  // namespace wk
