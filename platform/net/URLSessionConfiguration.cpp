#include "platform/net/URLSessionConfiguration.h"

namespace net {

URLSessionConfiguration URLSessionConfiguration::defaultSessionConfiguration() {
    return {};
}

URLSessionConfiguration URLSessionConfiguration::backgroundSessionConfiguration(
    std::string identifier) {
    URLSessionConfiguration configuration;
    configuration.identifier_ = std::move(identifier);
    return configuration;
}

}  // namespace net
