#include "tests/peers/MeasurementPeer.h"

namespace peers {

std::string MeasurementPeer::host() const {
    return "127.0.0.1:" + std::to_string(server_.port());
}

void MeasurementPeer::answerConfig(const std::string& encodedAppID, int status, std::string body,
                                   std::string lastModified) {
    HttpResponse response = HttpResponse::text(status, std::move(body), "application/x-protobuf");
    if (!lastModified.empty()) response.header("Last-Modified", std::move(lastModified));
    server_.on("GET", "/config/app/" + encodedAppID, std::move(response));
}

std::vector<HttpRequest> MeasurementPeer::configRequests() const {
    std::vector<HttpRequest> found;
    for (auto& request : server_.requests())
        if (request.path.rfind("/config/app/", 0) == 0) found.push_back(std::move(request));
    return found;
}

}  // namespace peers
