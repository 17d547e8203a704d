#include "signin/DSWebResponse.h"

std::shared_ptr<DSWebResponse> DSWebResponse::initWithResponse(
    std::shared_ptr<const net::URLResponse> response, ns::Data data) {
    if (!response || !response->http()) return nullptr;
    const net::HTTPURLResponse* http = response->http();
    return std::make_shared<DSWebResponse>(std::move(response), http, std::move(data));
}
