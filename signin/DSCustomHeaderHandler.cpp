#include "signin/DSCustomHeaderHandler.h"

#include <map>
#include <mutex>

namespace {

struct Headers {
    std::mutex mutex;  // the requests they go to are made on the loading system's threads
    std::map<std::string, std::string> persistent{{"x-ds-PkeyAuth", "1.0"}};
    std::map<std::string, std::string> singleUse;
};

Headers& headers() {
    static Headers* h = new Headers();  // read from threads that may outlive static destruction
    return *h;
}

}  // namespace

void DSCustomHeaderHandler::addCustomHeaderValue(const std::string& value,
                                                 const std::string& headerKey, bool forSingleUse) {
    Headers& h = headers();
    std::lock_guard lock(h.mutex);
    (forSingleUse ? h.singleUse : h.persistent)[headerKey] = value;
}

void DSCustomHeaderHandler::applyCustomHeadersTo(net::URLRequest& request) {
    Headers& h = headers();
    std::lock_guard lock(h.mutex);
    for (const auto& [name, value] : h.persistent) request.setValue(value, name);
    for (const auto& [name, value] : h.singleUse) request.setValue(value, name);
    h.singleUse.clear();
}
