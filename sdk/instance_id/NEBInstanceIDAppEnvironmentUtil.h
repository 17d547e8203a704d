#pragma once

#include <optional>
#include <string>

// The facts about the device that the push environment decision needs.
class NEBInstanceIDAppEnvironmentUtil {
public:
    // The hardware model identifier of the device facts (not of the machine this runs on: a PC
    // would always look like the simulator).
    static std::optional<std::string> deviceModel();
    // The host stands in for the platform's simulator (sys::DeviceFacts::isSimulator).
    static bool isSimulator();
};
