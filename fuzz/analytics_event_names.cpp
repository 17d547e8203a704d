// Names and values of any bytes: every check answers without failing, normalisation keeps at
// most 25 public parameters, and the error value it records is cut at a character boundary.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/AnalyticsFuzzSetup.h"
#include "fuzz/Require.h"
#include "platform/ns/UTF16.h"
#include "sdk/analytics/NEBADataTypeValidator.h"
#include "sdk/analytics/NEBAEvent.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::analyticsMonitor();
    std::string text(reinterpret_cast<const char*>(data), size);
    ns::Value name(text);
    using V = NEBADataTypeValidator;
    V::isValidPublicEventName(name);
    V::isValidForwardedEventOrigin(name);
    V::isValidPublicUserAttributeName(name);
    NEBAValue value(text);
    V::isValidPublicEventParameterValue(&value);

    // The bytes split at NUL into alternating names and values.
    ns::Dictionary parameters;
    size_t start = 0;
    std::string pendingName;
    bool haveName = false;
    for (size_t i = 0; i <= size; ++i) {
        if (i < size && text[i] != '\0') continue;
        std::string piece = text.substr(start, i - start);
        start = i + 1;
        if (!haveName) {
            pendingName = piece;
            haveName = true;
        } else {
            parameters[pendingName] = piece.size() % 3 == 0
                                          ? ns::Value(piece)
                                          : ns::Value(static_cast<long long>(piece.size()));
            haveName = false;
        }
    }
    parameters["_ev"] = ns::Value(text);
    for (bool isPublic : {true, false}) {
        auto normalized = NEBAEvent::normalizedParametersForParameters(parameters, isPublic);
        if (!normalized) continue;
        size_t publicCount = 0;
        for (const auto& [key, v] : *normalized) {
            if (!key.empty() && key[0] != '_') ++publicCount;
        }
        fuzzing::require(publicCount <= 25);
        auto ev = normalized->find("_ev");
        if (ev != normalized->end() && ev->second.stringValue() && ns::isValidUTF8(text)) {
            fuzzing::require(ns::isValidUTF8(*ev->second.stringValue()));
            fuzzing::require(ns::utf16Length(*ev->second.stringValue()) <= 259);
        }
    }
    auto event = NEBAEvent::initWithOrigin("app", false, "e", 1.0, 0, parameters);
    if (event) (void)event->protoEvent().SerializeAsString();
    fuzzing::settleAnalyticsMonitor();
    return 0;
}
