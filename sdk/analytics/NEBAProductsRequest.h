#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/dispatch/Queue.h"
#include "platform/ns/Error.h"
#include "platform/svc/ProductsRequest.h"

// One request to the store for products, answered once on the caller's queue. The request keeps
// itself alive until its answer has been handed over.
class NEBAProductsRequest : public svc::ProductsRequestDelegate,
                            public std::enable_shared_from_this<NEBAProductsRequest> {
public:
    using Products = std::map<std::string, svc::Product>;
    using Completion = std::function<void(
        std::optional<Products>, std::optional<std::set<std::string>>, std::optional<ns::Error>)>;

    // Nothing happens without a queue and a completion; a request that cannot be made answers
    // analytics error 1 "Invalid product identifiers.".
    static void requestProductsWithProductIdentifiers(std::set<std::string> productIdentifiers,
                                                      std::shared_ptr<dispatch::Queue> queue,
                                                      Completion completion);

    void productsRequestDidReceiveResponse(svc::ProductsRequest& request,
                                           const svc::ProductsResponse& response) override;
    void requestDidFailWithError(svc::ProductsRequest& request, const ns::Error& error) override;

private:
    void finish(std::optional<Products> products, std::optional<std::set<std::string>> invalid,
                std::optional<ns::Error> error);

    std::shared_ptr<svc::ProductsRequest> request_;
    std::shared_ptr<dispatch::Queue> queue_;
    Completion completion_;
    std::shared_ptr<NEBAProductsRequest> keepAlive_;
};
