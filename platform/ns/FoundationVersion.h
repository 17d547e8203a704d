#pragma once

namespace ns {

// The version number of the platform's foundation library, which callers compare against
// fixed thresholds to choose between the behaviour of older and newer systems. It is a
// setting rather than a fact of this machine, so that either behaviour can be chosen (by the
// host's command line, or by a test). Any thread.
class FoundationVersion {
public:
    // A newer system: above every threshold that callers test.
    static constexpr double kDefaultNumber = 1349.0;

    static double number();
    static void setNumber(double number);
};

}  // namespace ns
