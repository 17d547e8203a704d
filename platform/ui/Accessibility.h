#pragma once

#include <optional>
#include <string>

namespace ui {

// The texts that assistive technologies read for an element.
class Accessibility {
public:
    virtual ~Accessibility() = default;

    const std::optional<std::string>& accessibilityLabel() const { return label_; }
    void setAccessibilityLabel(std::optional<std::string> text) { label_ = std::move(text); }
    const std::optional<std::string>& accessibilityHint() const { return hint_; }
    void setAccessibilityHint(std::optional<std::string> text) { hint_ = std::move(text); }
    const std::optional<std::string>& accessibilityValue() const { return value_; }
    void setAccessibilityValue(std::optional<std::string> text) { value_ = std::move(text); }

private:
    std::optional<std::string> label_;
    std::optional<std::string> hint_;
    std::optional<std::string> value_;
};

}  // namespace ui
