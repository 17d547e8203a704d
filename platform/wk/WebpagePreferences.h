#pragma once

#include <memory>

namespace wk {

// Per-page settings applied when a navigation starts.
class WebpagePreferences {
public:
    enum class ContentMode { Recommended = 0, Mobile = 1, Desktop = 2 };

    static std::shared_ptr<WebpagePreferences> create() {
        return std::make_shared<WebpagePreferences>();
    }

    ContentMode preferredContentMode() const { return contentMode_; }
    void setPreferredContentMode(ContentMode mode) { contentMode_ = mode; }

private:
    ContentMode contentMode_ = ContentMode::Recommended;
};

}  // namespace wk
