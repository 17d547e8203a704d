#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Error.h"
#include "platform/ns/SharedInstance.h"

namespace svc {

// A product of the application's store: its price is a decimal text in the currency of its
// price locale ("0.99"), as exact as the store gives it.
struct Product {
    std::string productIdentifier;
    std::string localizedTitle;
    std::string price;
    // The price locale ("en_US@currency=USD") and its currency code ("USD"), when it has one.
    std::string priceLocaleIdentifier;
    std::optional<std::string> currencyCode;
};

struct ProductsResponse {
    std::vector<Product> products;
    std::vector<std::string> invalidProductIdentifiers;
};

class ProductsRequest;

class ProductsRequestDelegate {
public:
    virtual ~ProductsRequestDelegate() = default;
    virtual void productsRequestDidReceiveResponse(ProductsRequest& request,
                                                   const ProductsResponse& response) = 0;
    virtual void requestDidFailWithError(ProductsRequest& request, const ns::Error& error) = 0;
};

// The products the stand-in store offers (its control surface: the host and tests stock it).
// Any thread.
class ProductCatalog {
public:
    static ProductCatalog& shared();
    void addProduct(Product product);
    // While set, every request fails with this error.
    void setFailure(std::optional<ns::Error> error);

    std::optional<Product> product(const std::string& productIdentifier) const;
    std::optional<ns::Error> failure() const;

private:
    friend class ns::SharedInstance<ProductCatalog>;
    ProductCatalog() = default;

    mutable dispatch::Mutex mutex_;
    std::map<std::string, Product> products_ GUARDED_BY(mutex_);
    std::optional<ns::Error> failure_ GUARDED_BY(mutex_);
};

// Asks the store for products by identifier; the delegate (held weakly) hears the answer on
// the main queue: the products the catalog has, and the identifiers it does not know.
class ProductsRequest : public std::enable_shared_from_this<ProductsRequest> {
public:
    explicit ProductsRequest(std::set<std::string> productIdentifiers)
        : productIdentifiers_(std::move(productIdentifiers)) {}

    const std::set<std::string>& productIdentifiers() const { return productIdentifiers_; }
    void setDelegate(std::weak_ptr<ProductsRequestDelegate> delegate);
    // The request is kept alive until its answer is delivered.
    void start();
    // No answer is delivered after this.
    void cancel();

private:
    std::set<std::string> productIdentifiers_;
    mutable dispatch::Mutex mutex_;
    std::weak_ptr<ProductsRequestDelegate> delegate_ GUARDED_BY(mutex_);
    bool cancelled_ GUARDED_BY(mutex_) = false;
};

}  // namespace svc
