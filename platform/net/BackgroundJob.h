#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/net/URLRequest.h"

namespace net {

// One upload of a background session as it is kept on disk between runs: the job's identifier
// (a UUID string, also its file name), the session identifier, the request (URL, method,
// header fields, time-out, cache policy) and the file whose bytes are the body.
class BackgroundJob {
public:
    // Largest job file read back; anything longer is not a job written by this program.
    static constexpr size_t kMaximumSerializedSize = 1 << 20;
    // A job not taken up within this many seconds of its start is dropped at a launch: what
    // it carries is stale by then.
    static constexpr double kMaximumAge = 7 * 24 * 3600.0;

    BackgroundJob(std::string identifier, std::string sessionIdentifier, URLRequest request,
                  std::string bodyFile);

    const std::string& identifier() const { return identifier_; }
    const std::string& sessionIdentifier() const { return sessionIdentifier_; }
    const URLRequest& request() const { return request_; }
    const std::string& bodyFile() const { return bodyFile_; }

    // A JSON object.
    std::string serialized() const;
    // Nothing for text that is not a complete, well-formed job: malformed or cut-off JSON, a
    // missing or mistyped field, an identifier that is not a UUID, a URL that is not http or
    // https, a relative body file path, a header that could not be sent.
    static std::optional<BackgroundJob> parse(std::string_view text);

private:
    std::string identifier_;
    std::string sessionIdentifier_;
    URLRequest request_;
    std::string bodyFile_;
};

}  // namespace net
