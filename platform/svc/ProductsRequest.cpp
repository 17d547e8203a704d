#include "platform/svc/ProductsRequest.h"

#include "platform/dispatch/Queue.h"

namespace svc {

ProductCatalog& ProductCatalog::shared() {
    return ns::SharedInstance<ProductCatalog>::get();
}

void ProductCatalog::addProduct(Product product) {
    dispatch::Lock lock(mutex_);
    std::string identifier = product.productIdentifier;
    products_.insert_or_assign(std::move(identifier), std::move(product));
}

void ProductCatalog::setFailure(std::optional<ns::Error> error) {
    dispatch::Lock lock(mutex_);
    failure_ = std::move(error);
}

std::optional<Product> ProductCatalog::product(const std::string& productIdentifier) const {
    dispatch::Lock lock(mutex_);
    auto it = products_.find(productIdentifier);
    if (it == products_.end()) return std::nullopt;
    return it->second;
}

std::optional<ns::Error> ProductCatalog::failure() const {
    dispatch::Lock lock(mutex_);
    return failure_;
}

void ProductsRequest::setDelegate(std::weak_ptr<ProductsRequestDelegate> delegate) {
    dispatch::Lock lock(mutex_);
    delegate_ = std::move(delegate);
}

void ProductsRequest::start() {
    auto self = shared_from_this();
    dispatch::Queue::main().async([self] {
        std::shared_ptr<ProductsRequestDelegate> delegate;
        {
            dispatch::Lock lock(self->mutex_);
            if (self->cancelled_) return;
            delegate = self->delegate_.lock();
        }
        if (!delegate) return;
        const auto& catalog = ProductCatalog::shared();
        if (auto failure = catalog.failure()) {
            delegate->requestDidFailWithError(*self, *failure);
            return;
        }
        ProductsResponse response;
        for (const auto& identifier : self->productIdentifiers_) {
            if (auto product = catalog.product(identifier))
                response.products.push_back(std::move(*product));
            else
                response.invalidProductIdentifiers.push_back(identifier);
        }
        delegate->productsRequestDidReceiveResponse(*self, response);
    });
}

void ProductsRequest::cancel() {
    dispatch::Lock lock(mutex_);
    cancelled_ = true;
}

}  // namespace svc
