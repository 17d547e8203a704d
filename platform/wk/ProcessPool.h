#pragma once

#include <memory>

namespace wk {

// The web content processes that web views share: views of one pool share cookies and
// caches in memory. An identity only.
class ProcessPool {
public:
    static std::shared_ptr<ProcessPool> create() { return std::make_shared<ProcessPool>(); }
};

}  // namespace wk
