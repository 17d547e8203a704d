#include "platform/net/URLSessionConfiguration.h"

namespace net {

URLSessionConfiguration URLSessionConfiguration::defaultSessionConfiguration() {
    return {};
}

URLSessionConfiguration URLSessionConfiguration::ephemeralSessionConfiguration() {
    URLSessionConfiguration configuration;
    configuration.ephemeral_ = true;
    configuration.usesURLCache_ = false;
    return configuration;
}

URLSessionConfiguration URLSessionConfiguration::backgroundSessionConfiguration(
    std::string identifier) {
    URLSessionConfiguration configuration;
    configuration.identifier_ = std::move(identifier);
    return configuration;
}

}  // namespace net
