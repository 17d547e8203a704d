#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <typeindex>

#include "platform/net/URLProtocolClient.h"
#include "platform/net/URLRequest.h"
#include "platform/ns/Value.h"

namespace net {

// A way of answering requests in-process that the loading system consults before the network:
// sessions offer every load to the registered protocol classes, the most recently registered
// first, and the first whose canInitWithRequest() answers true serves it.
//
// A protocol class P derives from URLProtocol, is constructible from (URLRequest,
// std::shared_ptr<URLProtocolClient>) and has the class operations
//   static bool canInitWithRequest(const URLRequest&);
//   static URLRequest canonicalRequestForRequest(const URLRequest&);
// startLoading() and stopLoading() run on the loading system's protocol queue; the protocol
// reports through client() from any thread. stopLoading() follows every load, whether it
// finished, failed, was redirected or was cancelled.
class URLProtocol : public std::enable_shared_from_this<URLProtocol> {
public:
    // The class side of a protocol as the loading system sees it.
    struct Class {
        std::type_index type;
        std::function<bool(const URLRequest&)> canInitWithRequest;
        std::function<URLRequest(const URLRequest&)> canonicalRequestForRequest;
        std::function<std::shared_ptr<URLProtocol>(URLRequest, std::shared_ptr<URLProtocolClient>)>
            make;
    };

    URLProtocol(URLRequest request, std::shared_ptr<URLProtocolClient> client)
        : request_(std::move(request)), client_(std::move(client)) {}
    virtual ~URLProtocol() = default;

    const URLRequest& request() const { return request_; }
    const std::shared_ptr<URLProtocolClient>& client() const { return client_; }

    virtual void startLoading() = 0;
    virtual void stopLoading() = 0;

    // Registers P (again, it moves to the front); always true.
    template <class P>
    static bool registerClass() {
        return registerClass(Class{
            typeid(P), [](const URLRequest& r) { return P::canInitWithRequest(r); },
            [](const URLRequest& r) { return P::canonicalRequestForRequest(r); },
            [](URLRequest r, std::shared_ptr<URLProtocolClient> c) -> std::shared_ptr<URLProtocol> {
                return std::make_shared<P>(std::move(r), std::move(c));
            }});
    }
    template <class P>
    static void unregisterClass() {
        unregisterClass(std::type_index(typeid(P)));
    }
    static bool registerClass(Class protocolClass);
    static void unregisterClass(std::type_index type);
    // The class that would serve the request, if any.
    static std::optional<Class> classForRequest(const URLRequest& request);

    // Values a protocol attaches to a request; they travel with copies of it and are never
    // sent. Absent keys give nullptr.
    static const ns::Value* propertyForKey(std::string_view key, const URLRequest& request);
    static void setProperty(ns::Value value, std::string key, URLRequest& request);
    static void removePropertyForKey(std::string_view key, URLRequest& request);

private:
    URLRequest request_;
    std::shared_ptr<URLProtocolClient> client_;
};

}  // namespace net
