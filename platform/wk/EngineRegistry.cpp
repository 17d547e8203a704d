#include "platform/wk/EngineRegistry.h"

#include "platform/ns/Exception.h"

namespace wk {

EngineRegistry::EngineRegistry() = default;

EngineRegistry& EngineRegistry::shared() {
    static EngineRegistry registry;
    return registry;
}

void EngineRegistry::registerEngine(std::string name, Factory factory) {
    dispatch::Lock lock(mutex_);
    if (default_.empty()) default_ = name;
    factories_[std::move(name)] = std::move(factory);
}

bool EngineRegistry::setDefaultEngine(std::string_view name) {
    dispatch::Lock lock(mutex_);
    if (!factories_.count(name)) return false;
    default_ = std::string(name);
    return true;
}

std::string EngineRegistry::defaultEngine() const {
    dispatch::Lock lock(mutex_);
    return default_;
}

std::vector<std::string> EngineRegistry::engineNames() const {
    dispatch::Lock lock(mutex_);
    std::vector<std::string> names;
    for (auto& [name, factory] : factories_) names.push_back(name);
    return names;
}

std::shared_ptr<Engine> EngineRegistry::createEngine(
    const std::shared_ptr<WebViewConfiguration>& configuration,
    std::weak_ptr<EngineClient> client) const {
    Factory factory;
    {
        dispatch::Lock lock(mutex_);
        auto it = factories_.find(default_);
        if (it == factories_.end())
            throw ns::Exception(ns::kInternalInconsistencyException,
                                "no web engine is registered for new web views");
        factory = it->second;
    }
    return factory(configuration, std::move(client));
}

}  // namespace wk
