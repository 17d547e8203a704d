#include "platform/net/ServerTrust.h"

#include "platform/net/TLSEngine.h"

namespace net {

ServerTrust::ServerTrust(std::string host, std::vector<ns::Data> certificates)
    : host_(std::move(host)), certificates_(std::move(certificates)) {}

ns::Result<TrustResultType> ServerTrust::evaluate() const {
    auto engine = TLSEngine::loaded();
    if (!engine) return TrustResultType::OtherError;
    return engine->evaluate(*this);
}

}  // namespace net
