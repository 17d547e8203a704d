#include "services/peers/MeasurementPeer.h"

#include <zlib.h>

#include <set>
#include <utility>

namespace peers {

namespace {

constexpr size_t kMaxInflated = size_t{64} << 20;

std::optional<std::string> gunzip(const std::string& compressed) {
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    std::string out;
    char buffer[64 * 1024];
    int rc = Z_OK;
    while (rc == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        rc = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - stream.avail_out);
        if (out.size() > kMaxInflated) rc = Z_MEM_ERROR;
        if (rc == Z_BUF_ERROR && stream.avail_in == 0) break;
    }
    inflateEnd(&stream);
    if (rc != Z_STREAM_END) return std::nullopt;
    return out;
}

}  // namespace

MeasurementPeer::MeasurementPeer(HttpsServer& server) : server_(server) {
    server_.on("POST", "/a",
               [this](const HttpRequest& request) { return answerUploadRequest(request); });
}

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

void MeasurementPeer::answerUpload(int status) {
    answerUpload(HttpResponse::text(status, ""));
}

void MeasurementPeer::answerUpload(HttpResponse response) {
    dispatch::Lock lock(uploads_->mutex);
    uploads_->script.push_back(std::move(response));
}

std::optional<std::string> MeasurementPeer::decodedBody(const HttpRequest& request) {
    auto encoding = request.header("Content-Encoding");
    if (encoding && *encoding == "gzip") return gunzip(request.body);
    return request.body;
}

HttpResponse MeasurementPeer::answerUploadRequest(const HttpRequest& request) {
    auto body = decodedBody(request);
    NEB_MEASUREMENT::ACPMeasurementBatch batch;
    bool decoded = body && batch.ParseFromString(*body) && batch.bundles_size() > 0;
    dispatch::Lock lock(uploads_->mutex);
    ++uploads_->count;
    HttpResponse answer = uploads_->last;
    if (!uploads_->script.empty()) {
        answer = std::move(uploads_->script.front());
        uploads_->script.pop_front();
        uploads_->last = answer;
    }
    if (!decoded) {
        ++uploads_->undecodable;
        return HttpResponse::text(400, "undecodable batch");
    }
    // Only a batch the service accepts counts as received (a hung answer never comes).
    if (answer.action == HttpResponse::Action::Answer &&
        (answer.status == 200 || answer.status == 204) &&
        answer.afterRequests != HttpResponse::kForever) {
        if (uploads_->observer) uploads_->observer(batch);
        uploads_->batches.push_back(std::move(batch));
    }
    return answer;
}

size_t MeasurementPeer::uploadCount() const {
    dispatch::Lock lock(uploads_->mutex);
    return uploads_->count;
}

std::vector<NEB_MEASUREMENT::ACPMeasurementBatch> MeasurementPeer::batches() const {
    dispatch::Lock lock(uploads_->mutex);
    return uploads_->batches;
}

std::vector<NEB_MEASUREMENT::ACPMeasurementBundle> MeasurementPeer::distinctBundles() const {
    std::vector<NEB_MEASUREMENT::ACPMeasurementBundle> bundles;
    std::set<std::pair<std::string, int32_t>> seen;
    for (const auto& batch : batches()) {
        for (const auto& bundle : batch.bundles()) {
            if (seen.insert({bundle.app_instance_id(), bundle.bundle_sequential_index()}).second)
                bundles.push_back(bundle);
        }
    }
    return bundles;
}

void MeasurementPeer::setBatchObserver(BatchObserver observer) {
    dispatch::Lock lock(uploads_->mutex);
    uploads_->observer = std::move(observer);
}

size_t MeasurementPeer::undecodableUploads() const {
    dispatch::Lock lock(uploads_->mutex);
    return uploads_->undecodable;
}

}  // namespace peers
