#include "platform/wk/EngineRegistry.h"

#include "platform/wk/FakeEngine.h"

namespace wk {

EngineRegistry::EngineRegistry() : default_(FakeEngine::kName) {
    factories_.emplace(FakeEngine::kName, [](const auto& configuration, auto client) {
        return std::make_shared<FakeEngine>(configuration, std::move(client));
    });
}

EngineRegistry& EngineRegistry::shared() {
    static EngineRegistry registry;
    return registry;
}

void EngineRegistry::registerEngine(std::string name, Factory factory) {
    std::lock_guard lock(mutex_);
    factories_[std::move(name)] = std::move(factory);
}

bool EngineRegistry::setDefaultEngine(std::string_view name) {
    std::lock_guard lock(mutex_);
    if (!factories_.count(name)) return false;
    default_ = std::string(name);
    return true;
}

std::string EngineRegistry::defaultEngine() const {
    std::lock_guard lock(mutex_);
    return default_;
}

std::vector<std::string> EngineRegistry::engineNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (auto& [name, factory] : factories_) names.push_back(name);
    return names;
}

std::shared_ptr<Engine> EngineRegistry::createEngine(
    const std::shared_ptr<WebViewConfiguration>& configuration,
    std::weak_ptr<EngineClient> client) const {
    Factory factory;
    {
        std::lock_guard lock(mutex_);
        factory = factories_.at(default_);
    }
    return factory(configuration, std::move(client));
}

}  // namespace wk
