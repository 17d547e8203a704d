#include "signin/DSClientMetrics.h"

#include "platform/ns/Format.h"
#include "signin/DSHelpers.h"
#include "signin/DSLogger.h"
#include "signin/DSStringHelpers.h"

namespace {

// Server error texts are free text: a line break would end the header line (and the
// transport refuses such a value), so control characters go, and the length is bounded.
std::string headerSafe(std::string_view text) {
    std::string out;
    out.reserve(std::min(text.size(), DSClientMetrics::kMaxErrorToReport));
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) continue;
        if (out.size() == DSClientMetrics::kMaxErrorToReport) break;
        out.push_back(c);
    }
    // Never leave half of a UTF-8 sequence at the cut.
    size_t end = out.size();
    size_t lead = end;
    while (lead > 0 && (static_cast<unsigned char>(out[lead - 1]) & 0xC0) == 0x80) --lead;
    if (lead > 0) {
        const auto first = static_cast<unsigned char>(out[lead - 1]);
        const size_t need = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
        if (need > 1 && end - (lead - 1) < need) out.resize(lead - 1);
    }
    return out;
}

}  // namespace

DSClientMetrics& DSClientMetrics::getInstance() {
    static auto& instance = *new DSClientMetrics();
    return instance;
}

bool DSClientMetrics::isPending() const {
    dispatch::Lock guard(lock_);
    return isPending_;
}

void DSClientMetrics::setIsPending(bool pending) {
    dispatch::Lock guard(lock_);
    isPending_ = pending;
}

void DSClientMetrics::clear() {
    endpoint_.reset();
    responseTime_.reset();
    correlationId_.reset();
    errorToReport_.reset();
    isPending_ = false;
}

void DSClientMetrics::addClientMetrics(net::HTTPHeaderFields& headers,
                                       const std::string& endpoint) {
    if (DSHelpers::isFDSInstance(endpoint)) return;
    dispatch::Lock guard(lock_);
    if (!isPending_) return;
    if (errorToReport_ && responseTime_ && endpoint_ && correlationId_) {
        net::setHeaderValue(headers, "x-client-last-error", *errorToReport_);
        net::setHeaderValue(headers, "x-client-last-response-time", *responseTime_);
        net::setHeaderValue(headers, "x-client-last-endpoint",
                            DSHelpers::getEndpointName(*endpoint_).value_or(""));
        net::setHeaderValue(headers, "x-client-last-request", *correlationId_);
    } else {
        DSLogger::log(DS_LOG_LEVEL_ERROR, nullptr, "unable to add client metrics.", -1,
                      std::nullopt, std::nullopt);
    }
    clear();
}

void DSClientMetrics::endClientMetricsRecord(const std::string& endpoint, const ns::Date& startTime,
                                             const std::optional<ns::UUID>& correlationId,
                                             const std::optional<std::string>& errorDetails) {
    if (DSHelpers::isFDSInstance(endpoint)) return;
    dispatch::Lock guard(lock_);
    endpoint_ = endpoint;
    errorToReport_ = dsIsStringNilOrBlank(errorDetails) ? std::string() : headerSafe(*errorDetails);
    correlationId_ =
        correlationId ? std::optional<std::string>(correlationId->UUIDString()) : std::nullopt;
    const double elapsedMs =
        (ns::Date::now().timeIntervalSince1970() - startTime.timeIntervalSince1970()) * 1000.0;
    responseTime_ = ns::format("%f", elapsedMs);
    isPending_ = true;
}
