#include "platform/net/HTTPTransport.h"

#include "platform/rt/ModuleLoader.h"

namespace net {

HTTPTransport::~HTTPTransport() = default;

std::shared_ptr<const HTTPTransport> HTTPTransport::loaded() {
    return rt::ModuleLoader::shared().create<const HTTPTransport>(kClassName);
}

}  // namespace net
