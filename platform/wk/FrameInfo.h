#pragma once

#include "platform/wk/URLRequest.h"

namespace wk {

// A frame of a page: whether it is the top-level one, and the request it was loaded with.
struct FrameInfo {
    bool isMainFrame = true;
    URLRequest request;
};

}  // namespace wk
