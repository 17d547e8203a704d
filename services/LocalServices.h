#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Value.h"
#include "services/peers/HttpsServer.h"
#include "services/peers/TestCA.h"

namespace localservices {

class LocalServices;

// One service of the local services program: a loopback stand-in of a network service that
// the host's SDK or plug-ins call. It starts listening in start() and says, in environment(),
// the variables that point a host at it (the SDK's service hosts, NEBServiceHosts). It stops
// when destroyed.
class LocalService {
public:
    virtual ~LocalService() = default;
    virtual std::string name() const = 0;
    virtual void start(LocalServices& services) = 0;
    virtual std::vector<std::pair<std::string, std::string>> environment() const = 0;
};

using LocalServiceFactory = std::unique_ptr<LocalService> (*)();

// Every service of the program, in start order (LocalServiceList.cpp: a service is a file of
// its own and a line there).
std::vector<LocalServiceFactory> localServiceList();

// Events that one service announces and others act on, with their details.
// "topic-subscribed": {"device": check-in device ID, "topic": "/topics/name", "delete": bool}.
inline constexpr const char* kTopicSubscribedEvent = "topic-subscribed";

// What the services share: one certificate authority that every service's TLS identity comes
// from (a host trusts it through NEBULA_TRUSTED_CA_FILE), one HTTPS server on 127.0.0.1 for
// the services that answer HTTP (each adds its own paths), a small event bus between services,
// and the log. Everything listens on ports the system picks, so that several copies can run on
// one machine.
class LocalServices {
public:
    // The services of localServiceList(), not yet started.
    LocalServices();
    explicit LocalServices(std::vector<LocalServiceFactory> factories);
    ~LocalServices();
    LocalServices(const LocalServices&) = delete;
    LocalServices& operator=(const LocalServices&) = delete;

    // Starts every service in order; a service that fails to start throws, and the program
    // says which one.
    void start();
    // The variables that point a host at every service, the trusted authority first.
    std::vector<std::pair<std::string, std::string>> environment() const;

    const peers::TestCA& ca() const { return ca_; }
    peers::HttpsServer& https() { return *https_; }

    using EventHandler = std::function<void(const ns::Value& details)>;
    // Handlers run on the thread that publishes (a server's thread), in the order they were
    // added; they must not block.
    void subscribe(const std::string& event, EventHandler handler);
    void publish(const std::string& event, const ns::Value& details);

    // One line of the program's log, tagged with the service.
    static void log(const std::string& service, const std::string& text);

private:
    peers::TestCA ca_;
    std::unique_ptr<peers::HttpsServer> https_;
    std::vector<std::unique_ptr<LocalService>> services_;
    dispatch::Mutex mutex_;
    std::map<std::string, std::vector<EventHandler>> handlers_ GUARDED_BY(mutex_);
};

}  // namespace localservices
