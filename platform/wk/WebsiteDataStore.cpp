#include "platform/wk/WebsiteDataStore.h"

#include "platform/dispatch/RunLoop.h"
#include "platform/wk/WebsiteDataBackend.h"

namespace wk {

std::shared_ptr<WebsiteDataStore> WebsiteDataStore::defaultDataStore() {
    static auto store = std::make_shared<WebsiteDataStore>(true);
    return store;
}

void WebsiteDataStore::removeDataOfTypes(unsigned types, ns::Date modifiedSince,
                                         std::function<void()> completion) {
    removals_.push_back({types, modifiedSince});
    if (cookies_.backend_)
        return cookies_.backend_->removeData(types, modifiedSince, std::move(completion));
    if (types & kWebsiteDataCookies) cookies_.removeCookiesSetSince(modifiedSince);
    if (completion) dispatch::RunLoop::main().post(std::move(completion));
}

}  // namespace wk
