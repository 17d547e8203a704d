#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "bridge/HYBTimerItem.h"
#include "platform/ns/Object.h"

// Measures named stretches of start-up work and logs how long each took. Names are
// case-blind; the log shows a name as it was first given. Not synchronised: used on the main
// thread.
class HYBTimer : public ns::Object {
public:
    static HYBTimer& sharedInstance();

    // Starts a timer; a running timer of the same name (in any letter case) is logged and
    // left as it is.
    void add(std::string_view name);
    // Stops a timer and logs its duration; an unknown name is logged.
    void remove(std::string_view name);
    // Forgets every timer without logging.
    void removeAll();

    static void start(std::string_view name) { sharedInstance().add(name); }
    static void stop(std::string_view name) { sharedInstance().remove(name); }
    static void clearAll() { sharedInstance().removeAll(); }

private:
    std::map<std::string, std::shared_ptr<HYBTimerItem>, std::less<>> items_;
};
