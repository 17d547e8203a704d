#include "signin/DSCustomHeaderHandler.h"
#include "platform/dispatch/Mutex.h"

#include <map>

namespace {

struct Headers {
    dispatch::Mutex mutex;  // the requests they go to are made on the loading system's threads
    std::map<std::string, std::string> persistent GUARDED_BY(mutex){{"x-ds-PkeyAuth", "1.0"}};
    std::map<std::string, std::string> singleUse GUARDED_BY(mutex);
};

Headers& headers() {
    static Headers* h = new Headers();  // read from threads that may outlive static destruction
    return *h;
}

}  // namespace

void DSCustomHeaderHandler::addCustomHeaderValue(const std::string& value,
                                                 const std::string& headerKey, bool forSingleUse) {
    Headers& h = headers();
    dispatch::Lock lock(h.mutex);
    (forSingleUse ? h.singleUse : h.persistent)[headerKey] = value;
}

void DSCustomHeaderHandler::applyCustomHeadersTo(net::URLRequest& request) {
    Headers& h = headers();
    dispatch::Lock lock(h.mutex);
    for (const auto& [name, value] : h.persistent) request.setValue(value, name);
    for (const auto& [name, value] : h.singleUse) request.setValue(value, name);
    h.singleUse.clear();
}
