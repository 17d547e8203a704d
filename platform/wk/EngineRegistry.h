#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/wk/Engine.h"
#include "platform/wk/EngineClient.h"

namespace wk {

class WebViewConfiguration;

// The engines that web views can be built on, by name, and the one new web views use. The
// program registers its engine at start and makes it the default; the first engine registered
// is the default until then. Making a web view before any engine is registered is a
// programming fault.
class EngineRegistry {
public:
    using Factory = std::function<std::shared_ptr<Engine>(
        const std::shared_ptr<WebViewConfiguration>& configuration,
        std::weak_ptr<EngineClient> client)>;

    static EngineRegistry& shared();

    // Adds or replaces an engine.
    void registerEngine(std::string name, Factory factory);
    // False, and nothing changed, for a name that no engine has.
    bool setDefaultEngine(std::string_view name);
    std::string defaultEngine() const;
    std::vector<std::string> engineNames() const;

    // An engine of the default kind for a new web view.
    std::shared_ptr<Engine> createEngine(const std::shared_ptr<WebViewConfiguration>& configuration,
                                         std::weak_ptr<EngineClient> client) const;

private:
    EngineRegistry();

    mutable dispatch::Mutex mutex_;
    std::map<std::string, Factory, std::less<>> factories_ GUARDED_BY(mutex_);
    std::string default_ GUARDED_BY(mutex_);
};

}  // namespace wk
