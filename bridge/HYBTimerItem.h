#pragma once

#include <string>

#include "platform/ns/Date.h"
#include "platform/ns/Object.h"

// One named stretch of work that HYBTimer measures.
class HYBTimerItem : public ns::Object {
public:
    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }
    const ns::Date& started() const { return started_; }
    void setStarted(ns::Date date) { started_ = date; }
    const ns::Date& ended() const { return ended_; }
    void setEnded(ns::Date date) { ended_ = date; }

    // Logs "[HYBTimer][name] <milliseconds>ms".
    void log() const;

private:
    std::string name_;
    ns::Date started_;
    ns::Date ended_;
};
