#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "proto/measurement.pb.h"
#include "services/peers/HttpsServer.h"

namespace peers {

// The measurement server on an HttpsServer:
// - its configuration endpoint (GET "/config/app/<app id>"): each scripted answer is a status
//   with an optional configuration body (the serialised message, or any bytes) and an optional
//   Last-Modified; the requests are read back;
// - its upload endpoint (POST "/a"): the body is gunzipped (when sent with "Content-Encoding:
//   gzip") and decoded as a measurement batch, which is kept; the answers are scripted
//   (200 unless told otherwise; the last scripted answer stays), and may hang or close the
//   connection. Bundles are told apart as the service does, by app instance ID and bundle
//   index, so that a batch sent twice is counted once.
class MeasurementPeer {
public:
    explicit MeasurementPeer(HttpsServer& server);

    // "127.0.0.1:PORT", the host part the client is configured with.
    std::string host() const;
    // Adds an answer for the app's configuration path (the path as the client must send it).
    void answerConfig(const std::string& encodedAppID, int status, std::string body = {},
                      std::string lastModified = {});
    std::vector<HttpRequest> configRequests() const;

    // Scripts the next upload answers, in order.
    void answerUpload(int status);
    void answerUpload(HttpResponse response);
    // Every upload request that reached the server, decoded or not.
    size_t uploadCount() const;
    // The batches that decoded, in arrival order.
    std::vector<NEB_MEASUREMENT::ACPMeasurementBatch> batches() const;
    // Bundles of every batch, each (app instance ID, bundle index) once, first copy kept.
    std::vector<NEB_MEASUREMENT::ACPMeasurementBundle> distinctBundles() const;
    size_t undecodableUploads() const;
    // Called with each batch the service accepts, on the server's thread.
    using BatchObserver = std::function<void(const NEB_MEASUREMENT::ACPMeasurementBatch&)>;
    void setBatchObserver(BatchObserver observer);

    // The body as the service reads it: gunzipped when so declared; none when it cannot be.
    static std::optional<std::string> decodedBody(const HttpRequest& request);

private:
    HttpResponse answerUploadRequest(const HttpRequest& request);

    HttpsServer& server_;
    struct Uploads {
        dispatch::Mutex mutex;
        std::deque<HttpResponse> script GUARDED_BY(mutex);
        HttpResponse last GUARDED_BY(mutex) = HttpResponse::text(200, "");
        size_t count GUARDED_BY(mutex) = 0;
        size_t undecodable GUARDED_BY(mutex) = 0;
        std::vector<NEB_MEASUREMENT::ACPMeasurementBatch> batches GUARDED_BY(mutex);
        BatchObserver observer GUARDED_BY(mutex);
    };
    std::shared_ptr<Uploads> uploads_ = std::make_shared<Uploads>();
};

}  // namespace peers
