#include "bridge/HYBWebViewProcessPoolFactory.h"

HYBWebViewProcessPoolFactory& HYBWebViewProcessPoolFactory::sharedFactory() {
    static HYBWebViewProcessPoolFactory factory;
    return factory;
}
