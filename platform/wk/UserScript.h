#pragma once

#include <string>

namespace wk {

// A script that runs in every document a web view loads.
struct UserScript {
    enum class InjectionTime { AtDocumentStart = 0, AtDocumentEnd = 1 };

    std::string source;
    InjectionTime injectionTime = InjectionTime::AtDocumentStart;
    bool forMainFrameOnly = true;
};

}  // namespace wk
