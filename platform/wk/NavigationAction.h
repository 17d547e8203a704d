#pragma once

#include <optional>

#include "platform/wk/FrameInfo.h"
#include "platform/wk/URLRequest.h"

namespace wk {

// What set a navigation off, with the platform's numeric values.
enum class NavigationType {
    LinkActivated = 0,
    FormSubmitted = 1,
    BackForward = 2,
    Reload = 3,
    FormResubmitted = 4,
    Other = -1,  // script, redirect, a load the application asked for
};

enum class NavigationActionPolicy { Cancel = 0, Allow = 1 };

// A navigation to be decided on.
struct NavigationAction {
    URLRequest request;
    NavigationType navigationType = NavigationType::Other;
    FrameInfo sourceFrame;
    // Nothing when the navigation asks for a new window.
    std::optional<FrameInfo> targetFrame;
};

enum class NavigationResponsePolicy { Cancel = 0, Allow = 1 };

// The response to a navigation, to be decided on before its content is shown.
struct NavigationResponse {
    URLRequest request;  // the request answered, after any redirects
    bool isForMainFrame = true;
};

}  // namespace wk
