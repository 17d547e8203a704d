// The diagnostic log service: POST "/log" takes an upload of diagnostic events (gzipped when
// so declared) and answers 200, saying for each upload which log source sent it and its size;
// a body that is not an upload is answered 400.
#include <string>

#include "proto/logbook.pb.h"
#include "services/LocalServices.h"
#include "services/peers/MeasurementPeer.h"

namespace localservices {

namespace {

class LogbookService : public LocalService {
public:
    std::string name() const override { return "logbook"; }

    void start(LocalServices& services) override {
        services.https().on("POST", "/log", [this](const peers::HttpRequest& request) {
            const auto body = peers::MeasurementPeer::decodedBody(request);
            NEB_LOGBOOK::LogRequest upload;
            if (!body || !upload.ParseFromString(*body)) {
                LocalServices::log(name(), "refused an upload that is not a log request");
                return peers::HttpResponse::text(400, "not a log request");
            }
            LocalServices::log(name(), "upload from log source " +
                                           std::to_string(upload.log_source()) + ", " +
                                           std::to_string(body->size()) + " bytes");
            return peers::HttpResponse::text(200, "");
        });
        url_ = services.https().baseURL() + "/log";
        LocalServices::log(name(), "diagnostic logs go to " + url_);
    }

    std::vector<std::pair<std::string, std::string>> environment() const override {
        return {{"NEBULA_LOGBOOK_SERVER_URL", url_}};
    }

private:
    std::string url_;
};

}  // namespace

std::unique_ptr<LocalService> makeLogbookService() {
    return std::make_unique<LogbookService>();
}

}  // namespace localservices
