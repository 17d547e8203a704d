#include "toolbox/Foundation/NSDK_TBXLogLevelFilter.h"

#include <cctype>
#include <string>

#include "platform/ns/NotificationCenter.h"
#include "platform/ns/ProcessInfo.h"
#include "platform/ns/StringComponents.h"
#include "platform/ns/Value.h"

NSDK_TBXLogLevelFilter::NSDK_TBXLogLevelFilter()
    : userDefaults_(ns::UserDefaults::standardUserDefaults()) {
    verboseLoggingEnabled_ = computeVerbose();
    // Any change of the defaults may be a new value of the key; the flag is cheap to recompute.
    ns::NotificationCenter::defaultCenter().addObserver(
        this, ns::kUserDefaultsDidChangeNotification, userDefaults_,
        [this](const ns::Notification&) { verboseLoggingEnabled_ = computeVerbose(); });
}

NSDK_TBXLogLevelFilter::~NSDK_TBXLogLevelFilter() {
    ns::NotificationCenter::defaultCenter().removeObserver(this);
}

bool NSDK_TBXLogLevelFilter::environmentValueMeansYes(std::string_view value) {
    value = ns::trimmedWhitespace(value);
    const int first = value.empty() ? 0 : std::toupper(static_cast<unsigned char>(value[0]));
    return first == 'Y' || first == 'T' || ns::Value(value).intValue() != 0;
}

bool NSDK_TBXLogLevelFilter::computeVerbose() const {
    auto environment = ns::ProcessInfo::processInfo().environment();
    auto found = environment.find(kTBXVerboseLoggingKey);
    if (found != environment.end()) return environmentValueMeansYes(found->second);
    return userDefaults_ && userDefaults_->boolForKey(kTBXVerboseLoggingKey);
}

bool NSDK_TBXLogLevelFilter::filterAllowsMessage(std::string_view, TBXLogLevel level) const {
    if (level == kTBXLogLevelDebug) return false;
    if (level == kTBXLogLevelInfo) return verboseLoggingEnabled_;
    return true;
}
