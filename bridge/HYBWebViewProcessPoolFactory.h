#pragma once

#include <memory>

#include "platform/wk/ProcessPool.h"

// Keeps the one process pool that every web view of the application shares (the main web
// view's and the in-app browser's), so that they share cookies and caches.
class HYBWebViewProcessPoolFactory {
public:
    static HYBWebViewProcessPoolFactory& sharedFactory();

    std::shared_ptr<wk::ProcessPool> sharedProcessPool() const { return pool_; }

private:
    HYBWebViewProcessPoolFactory() : pool_(wk::ProcessPool::create()) {}

    std::shared_ptr<wk::ProcessPool> pool_;
};
