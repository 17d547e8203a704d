#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ns/Value.h"
#include "tests/peers/HttpsServer.h"

namespace peers {

// The device check-in service on a loopback server: POST "/checkin" with a JSON body. Answers
// are scripted in order (the last one stays); bodies() reads back what devices sent.
class CheckinPeer {
public:
    explicit CheckinPeer(HttpsServer& server) : server_(server) {}

    void answer(HttpResponse response) { server_.on("POST", "/checkin", std::move(response)); }

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
};

}  // namespace peers
