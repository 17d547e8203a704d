#pragma once

#include "signin/DSTelemetryDefaultEvent.h"

// The telemetry event of one interactive sign-in screen.
class DSTelemetryUIEvent : public DSTelemetryDefaultEvent {
public:
    static constexpr const char* kEventName = "ui_event";
    using DSTelemetryDefaultEvent::DSTelemetryDefaultEvent;

    // "yes" when the sign-in page met an NTLM challenge that a handler answered.
    void setNtlm(const std::optional<std::string>& v) { setProperty("ntlm", v); }
    void setUserCancel(const std::optional<std::string>& v) { setProperty("user_cancel", v); }
};
