#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Value.h"
#include "services/peers/HttpsServer.h"

namespace peers {

// The device check-in service on a loopback server: POST "/checkin" with a JSON body. Answers
// are scripted in order and the last one stays; an answer scripted once the earlier ones have
// all been used replaces the one that stayed. bodies() reads back what devices sent.
class CheckinPeer {
public:
    explicit CheckinPeer(HttpsServer& server);

    void answer(HttpResponse response);

    // A JSON answer carrying the credentials as bare number literals, exactly as given.
    static HttpResponse credentials(const std::string& deviceIDDigits,
                                    const std::string& secretDigits,
                                    std::optional<int64_t> timeMillis = std::nullopt,
                                    const std::string& extraMembers = {});

    // The JSON bodies received, in order (null for one that does not parse).
    std::vector<ns::Value> bodies() const;
    // The body texts received, in order.
    std::vector<std::string> texts() const;
    size_t count() const { return texts().size(); }

private:
    HttpsServer& server_;
    dispatch::Mutex mutex_;
    std::deque<HttpResponse> answers_ GUARDED_BY(mutex_);
    bool frontUsed_ GUARDED_BY(mutex_) = false;
};

}  // namespace peers
