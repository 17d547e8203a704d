#include "platform/sec/CryptoEngine.h"

#include "platform/rt/ModuleLoader.h"

namespace sec {

CryptoEngine::~CryptoEngine() = default;

std::shared_ptr<const CryptoEngine> CryptoEngine::shared() {
    return rt::ModuleLoader::shared().create<const CryptoEngine>(kClassName);
}

}  // namespace sec
