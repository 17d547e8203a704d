#include "bridge/HYBTimerItem.h"

#include "platform/ns/Format.h"
#include "platform/ns/Log.h"

void HYBTimerItem::log() const {
    ns::nslog("[HYBTimer][%@] %fms", name_, ended_.timeIntervalSinceDate(started_) * 1000.0);
}
