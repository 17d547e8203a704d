#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/ns/Date.h"
#include "platform/wk/HTTPCookieStore.h"
#include "platform/wk/WebsiteDataBackend.h"

namespace wk {

// Kinds of data that websites leave behind.
enum WebsiteDataType : unsigned {
    kWebsiteDataCookies = 1u << 0,
    kWebsiteDataDiskCache = 1u << 1,
    kWebsiteDataMemoryCache = 1u << 2,
    kWebsiteDataLocalStorage = 1u << 3,
    kWebsiteDataSessionStorage = 1u << 4,
    kWebsiteDataIndexedDBDatabases = 1u << 5,
    kWebsiteDataWebSQLDatabases = 1u << 6,
    kWebsiteDataOfflineWebApplicationCache = 1u << 7,
    kWebsiteDataFetchCache = 1u << 8,
    kWebsiteDataServiceWorkerRegistrations = 1u << 9,
    kWebsiteDataAll = (1u << 10) - 1,
};

// Where web views keep cookies, caches and storage: the default (persistent) store shared by
// every web view unless configured otherwise, or a fresh non-persistent one. Main thread only.
class WebsiteDataStore {
public:
    struct Removal {
        unsigned types;
        ns::Date modifiedSince;
    };

    explicit WebsiteDataStore(bool persistent) : persistent_(persistent) {}
    static std::shared_ptr<WebsiteDataStore> defaultDataStore();
    static std::shared_ptr<WebsiteDataStore> nonPersistentDataStore() {
        return std::make_shared<WebsiteDataStore>(false);
    }

    bool isPersistent() const { return persistent_; }
    HTTPCookieStore& httpCookieStore() { return cookies_; }

    // Removes the data of those types changed since the date; the completion runs on a later
    // turn. Every request is kept in removals() for the engine and for tests.
    void removeDataOfTypes(unsigned types, ns::Date modifiedSince,
                           std::function<void()> completion);
    const std::vector<Removal>& removals() const { return removals_; }

    // From now on the engine's data manager keeps this store's data and cookies.
    void setBackend(std::shared_ptr<WebsiteDataBackend> backend) {
        cookies_.backend_ = std::move(backend);
    }

private:
    bool persistent_;
    HTTPCookieStore cookies_;
    std::vector<Removal> removals_;
};

}  // namespace wk
