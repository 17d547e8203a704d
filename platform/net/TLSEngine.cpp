#include "platform/net/TLSEngine.h"

#include "platform/rt/ModuleLoader.h"

namespace net {

TLSEngine::~TLSEngine() = default;

std::shared_ptr<const TLSEngine> TLSEngine::loaded() {
    return rt::ModuleLoader::shared().create<const TLSEngine>(kClassName);
}

}  // namespace net
