#pragma once

#include <optional>
#include <string>

#include "platform/dispatch/Mutex.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/ns/Date.h"
#include "platform/ns/UUID.h"

// The process's record of the last finished request to the identity service, reported once
// on the next request as the "x-client-last-*" headers.
class DSClientMetrics {
public:
    // Error details go into a header line: beyond this many bytes they are cut.
    static constexpr size_t kMaxErrorToReport = 256;

    static DSClientMetrics& getInstance();

    void addClientMetrics(net::HTTPHeaderFields& headers, const std::string& endpoint);
    void endClientMetricsRecord(const std::string& endpoint, const ns::Date& startTime,
                                const std::optional<ns::UUID>& correlationId,
                                const std::optional<std::string>& errorDetails);

    bool isPending() const;
    void setIsPending(bool pending);

private:
    DSClientMetrics() = default;
    void clear() REQUIRES(lock_);

    mutable dispatch::Mutex lock_;
    std::optional<std::string> endpoint_ GUARDED_BY(lock_);
    std::optional<std::string> responseTime_ GUARDED_BY(lock_);
    std::optional<std::string> correlationId_ GUARDED_BY(lock_);
    std::optional<std::string> errorToReport_ GUARDED_BY(lock_);
    std::optional<ns::Date> startTime_ GUARDED_BY(lock_);
    bool isPending_ GUARDED_BY(lock_) = false;
};
