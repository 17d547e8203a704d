#include "services/LocalServices.h"

#include <chrono>
#include <limits>
#include <stdexcept>

#include "platform/ns/Log.h"

namespace localservices {

namespace {

// The program runs until it is stopped; the peers' own bounds are for tests.
constexpr std::chrono::hours kLifetime{24 * 365};

}  // namespace

LocalServices::LocalServices() : LocalServices(localServiceList()) {}

LocalServices::LocalServices(std::vector<LocalServiceFactory> factories)
    : ca_("Local Services CA") {
    https_ = std::make_unique<peers::HttpsServer>(
        peers::HttpsServer::Options{&ca_.localhost(), std::numeric_limits<size_t>::max(),
                                    std::chrono::duration_cast<std::chrono::seconds>(kLifetime)});
    for (auto factory : factories) services_.push_back(factory());
}

LocalServices::~LocalServices() {
    // No request may reach a service that is going: the server stops first, and the handlers,
    // which hold the services, go before them.
    https_->stop();
    {
        dispatch::Lock lock(mutex_);
        handlers_.clear();
    }
    services_.clear();
}

void LocalServices::start() {
    for (auto& service : services_) {
        try {
            service->start(*this);
        } catch (const std::exception& error) {
            throw std::runtime_error(service->name() + " did not start: " + error.what());
        }
    }
}

std::vector<std::pair<std::string, std::string>> LocalServices::environment() const {
    std::vector<std::pair<std::string, std::string>> variables{
        {"NEBULA_TRUSTED_CA_FILE", ca_.caFile()}};
    for (const auto& service : services_) {
        auto own = service->environment();
        variables.insert(variables.end(), own.begin(), own.end());
    }
    return variables;
}

void LocalServices::subscribe(const std::string& event, EventHandler handler) {
    dispatch::Lock lock(mutex_);
    handlers_[event].push_back(std::move(handler));
}

void LocalServices::publish(const std::string& event, const ns::Value& details) {
    std::vector<EventHandler> handlers;
    {
        dispatch::Lock lock(mutex_);
        if (auto found = handlers_.find(event); found != handlers_.end()) handlers = found->second;
    }
    for (const auto& handler : handlers) handler(details);
}

void LocalServices::log(const std::string& service, const std::string& text) {
    ns::Log::write(ns::LogLevel::Default, "services", service, text);
}

}  // namespace localservices
