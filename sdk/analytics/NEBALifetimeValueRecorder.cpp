#include "sdk/analytics/NEBALifetimeValueRecorder.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "platform/dispatch/Clock.h"
#include "sdk/analytics/NEBAMonitor.h"

namespace {

constexpr int64_t kMicros = 1000000;

bool isCurrencyCode(const std::string& text) {
    return text.size() == 3 && std::all_of(text.begin(), text.end(), [](unsigned char c) {
               return c < 0x80 && std::isalpha(c);
           });
}

// A double as a 64-bit integer: none for NaN, infinities and what does not fit.
std::optional<int64_t> fitting(double value) {
    if (!std::isfinite(value) || value >= 9223372036854775808.0 || value < -9223372036854775808.0)
        return std::nullopt;
    return static_cast<int64_t>(value);
}

int64_t saturatingAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

// The amount of the event in millionths; none when it cannot be held.
std::optional<int64_t> amountOf(const std::string& eventName, const NEBAValue& value) {
    if (eventName == "ecommerce_purchase") {
        if (value.isInt64()) {
            int64_t product = 0;
            if (__builtin_mul_overflow(value.int64Value(), kMicros, &product)) return std::nullopt;
            return product;
        }
        return fitting(std::round(value.doubleValue() * kMicros));
    }
    if (eventName == "_iap") {
        if (value.isInt64()) return value.int64Value();
        return fitting(std::trunc(value.doubleValue()));
    }
    return 0;
}

}  // namespace

bool NEBALifetimeValueRecorder::isPurchaseEvent(const NEBAEvent& event) {
    return event.name() == "_iap" || event.name() == "ecommerce_purchase";
}

bool NEBALifetimeValueRecorder::recordLifetimeValueToDatabase(NEBADatabase& database,
                                                              const NEBAEvent& event,
                                                              NEBARemoteConfig& remoteConfig) {
    const auto& parameters = event.parameters();
    auto currency = parameters.find("currency");
    if (currency == parameters.end() || !currency->second.stringValue() ||
        !isCurrencyCode(*currency->second.stringValue())) {
        NEBAMonitor::error(
            "Cannot record transaction with invalid currency code",
            {currency == parameters.end() ? ns::Value() : currency->second.object()});
        return true;
    }
    auto value = parameters.find("value");
    if (value == parameters.end() || !(value->second.isDouble() || value->second.isInt64())) {
        NEBAMonitor::error("Cannot record transaction with invalid transaction value",
                           {value == parameters.end() ? ns::Value() : value->second.object()});
        return true;
    }
    auto amount = amountOf(event.name(), value->second);
    if (!amount) {
        NEBAMonitor::error("Cannot record transaction with value that is out of bounds");
        return false;
    }
    std::string code = *currency->second.stringValue();
    std::transform(code.begin(), code.end(), code.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const std::string name = "_ltv_" + code;

    auto stored = database.allLifetimeValueUserAttributes();
    if (!stored) {
        NEBAMonitor::error("Failed to query all Lifetime Value User properties. Error",
                           {stored.error()});
        return false;
    }
    const double now = dispatch::Clock::current().wallTime();
    auto existing = std::find_if(stored->begin(), stored->end(),
                                 [&](const NEBAUserAttribute& a) { return a.name() == name; });
    int64_t total = *amount;
    if (existing != stored->end()) {
        const NEBAValue& previous = existing->value();
        int64_t before = previous.isInt64() ? previous.int64Value()
                                            : fitting(previous.doubleValue()).value_or(0);
        total = saturatingAdd(before, *amount);
    } else {
        // The least recently set currencies make room for a new one.
        const size_t limit = static_cast<size_t>(
            std::clamp(remoteConfig.maxTrackedCurrencies(), 1, kMaxTrackedCurrencies));
        while (stored->size() >= limit) {
            const auto& oldest = stored->back();
            if (auto deleted = database.deleteUserAttributeWithName(oldest.name()); !deleted) {
                NEBAMonitor::error("Unable to delete Lifetime Value User property. Name, error",
                                   {ns::Value(oldest.name()), deleted.error()});
                return false;
            }
            stored->pop_back();
        }
    }
    auto attribute = NEBAUserAttribute::initWithName(name, NEBAValue(total), now);
    if (!attribute) {
        NEBAMonitor::error(
            "Unable to upsert Lifetime Value User Attribute in database. Name, error",
            {ns::Value(name)});
        return false;
    }
    if (auto updated = database.updateUserAttribute(*attribute); !updated) {
        NEBAMonitor::error(
            "Unable to upsert Lifetime Value User Attribute in database. Name, error",
            {ns::Value(name), updated.error()});
        return false;
    }
    NEBAMonitor::debug("Lifetime value has been updated in database",
                       {ns::Value(name), ns::Value(total)});
    return true;
}
