#include "sdk/analytics/NEBAProductsRequest.h"

#include "sdk/analytics/NSError+NEBAAdditions.h"

void NEBAProductsRequest::requestProductsWithProductIdentifiers(
    std::set<std::string> productIdentifiers, std::shared_ptr<dispatch::Queue> queue,
    Completion completion) {
    if (!queue || !completion) return;
    if (productIdentifiers.empty()) {
        queue->async([queue, completion] {
            completion(std::nullopt, std::nullopt,
                       neba_argumentError("Invalid product identifiers."));
        });
        return;
    }
    auto request = std::make_shared<NEBAProductsRequest>();
    request->queue_ = std::move(queue);
    request->completion_ = std::move(completion);
    request->request_ = std::make_shared<svc::ProductsRequest>(std::move(productIdentifiers));
    request->keepAlive_ = request;
    request->request_->setDelegate(request);
    request->request_->start();
}

void NEBAProductsRequest::productsRequestDidReceiveResponse(svc::ProductsRequest&,
                                                            const svc::ProductsResponse& response) {
    Products products;
    for (const auto& product : response.products) {
        if (!product.productIdentifier.empty())
            products.insert_or_assign(product.productIdentifier, product);
    }
    std::set<std::string> invalid(response.invalidProductIdentifiers.begin(),
                                  response.invalidProductIdentifiers.end());
    finish(std::move(products), std::move(invalid), std::nullopt);
}

void NEBAProductsRequest::requestDidFailWithError(svc::ProductsRequest&, const ns::Error& error) {
    finish(std::nullopt, std::nullopt, error);
}

void NEBAProductsRequest::finish(std::optional<Products> products,
                                 std::optional<std::set<std::string>> invalid,
                                 std::optional<ns::Error> error) {
    auto self = std::move(keepAlive_);
    if (!self || !completion_) return;
    // The task holds its queue: a queue whose last holder goes drops what it has not run yet.
    queue_->async([queue = queue_, completion = std::move(completion_),
                   products = std::move(products), invalid = std::move(invalid),
                   error = std::move(error)] { completion(products, invalid, error); });
}
