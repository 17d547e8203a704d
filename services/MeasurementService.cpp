// The measurement service: GET "/config/app/<app id>" has no configuration for any app (the
// SDK then works with its defaults), and POST "/a" takes upload batches and says, for every
// bundle, what it carried: which app and installation, the bundle's number, and each event
// with its parameters.
#include <sstream>
#include <string>

#include "services/LocalServices.h"
#include "services/peers/MeasurementPeer.h"

namespace localservices {

namespace {

std::string describe(const NEB_MEASUREMENT::ACPEventParam& param) {
    std::ostringstream out;
    out << param.name() << "=";
    if (param.has_string_value())
        out << '"' << param.string_value() << '"';
    else if (param.has_int_value())
        out << param.int_value();
    else if (param.has_double_value())
        out << param.double_value();
    else if (param.has_float_value())
        out << param.float_value();
    return out.str();
}

std::string describe(const NEB_MEASUREMENT::ACPEvent& event) {
    std::string text = event.name() + " {";
    for (int i = 0; i < event.params_size(); ++i) {
        if (i > 0) text += ", ";
        text += describe(event.params(i));
    }
    return text + "}";
}

class MeasurementService : public LocalService {
public:
    std::string name() const override { return "measurement"; }

    void start(LocalServices& services) override {
        peer_ = std::make_unique<peers::MeasurementPeer>(services.https());
        peer_->setBatchObserver([this](const NEB_MEASUREMENT::ACPMeasurementBatch& batch) {
            for (const auto& bundle : batch.bundles()) {
                LocalServices::log(name(), "bundle " +
                                               std::to_string(bundle.bundle_sequential_index()) +
                                               " of app " + bundle.app_id() + " (instance " +
                                               bundle.app_instance_id() + "), " +
                                               std::to_string(bundle.events_size()) + " events");
                for (const auto& event : bundle.events())
                    LocalServices::log(name(), "  " + describe(event));
            }
        });
        host_ = peer_->host();
        LocalServices::log(name(), "uploads go to https://" + host_ + "/a");
    }

    std::vector<std::pair<std::string, std::string>> environment() const override {
        return {{"NEBULA_MEASUREMENT_UPLOAD_HOST", host_}};
    }

private:
    std::unique_ptr<peers::MeasurementPeer> peer_;
    std::string host_;
};

}  // namespace

std::unique_ptr<LocalService> makeMeasurementService() {
    return std::make_unique<MeasurementService>();
}

}  // namespace localservices
