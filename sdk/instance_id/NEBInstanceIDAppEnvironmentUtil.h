#pragma once

#include <optional>
#include <string>

// The facts about the device that the push environment decision needs.
class NEBInstanceIDAppEnvironmentUtil {
public:
    // The hardware model identifier of the device facts (not of the machine this runs on: a PC
    // would always look like the simulator).
    static std::optional<std::string> deviceModel();
    // The model is one the platform runs its simulator on ("x86_64", "i386").
    static bool isSimulator();
};
