#include "platform/net/Stream.h"

#include "platform/net/SocketConnection.h"

namespace net {

ns::Error secureStreamError(int64_t code, std::string description, std::string detail) {
    ns::Dictionary info{{ns::kLocalizedDescriptionKey, std::move(description)}};
    if (!detail.empty()) info["NSDebugDescription"] = std::move(detail);
    return ns::Error(kStreamOSStatusErrorDomain, code, std::move(info));
}

Stream::Stream(std::shared_ptr<SocketConnection> connection, Side side)
    : connection_(std::move(connection)), side_(side) {
    connection_->attach(static_cast<int>(side_), this);
}

Stream::~Stream() {
    // A stream that goes away closes, as on the platform.
    connection_->close(static_cast<int>(side_));
    connection_->detach(static_cast<int>(side_));
}

void Stream::scheduleInRunLoop(dispatch::Scheduler& scheduler) {
    if (connection_->status(static_cast<int>(side_)) == StreamStatus::NotOpen) {
        connection_->setScheduler(scheduler);
    }
    scheduled_ = true;
    connection_->scheduleDelivery();
}

void Stream::removeFromRunLoop(dispatch::Scheduler&) {
    scheduled_ = false;
}

void Stream::open() {
    connection_->open(static_cast<int>(side_));
}

void Stream::close() {
    connection_->close(static_cast<int>(side_));
}

StreamStatus Stream::streamStatus() const {
    return connection_->status(static_cast<int>(side_));
}

std::optional<ns::Error> Stream::streamError() const {
    if (streamStatus() != StreamStatus::Error) return std::nullopt;
    return connection_->error();
}

bool Stream::setProperty(const ns::Value& value, std::string_view key) {
    const std::string* text = value.string();
    if (!text) return false;
    if (key == kStreamPropertySocketSecurityLevel) {
        if (*text == kStreamSocketSecurityLevelNegotiatedSSL) return connection_->setSecure(true);
        if (*text == kStreamSocketSecurityLevelNone) return connection_->setSecure(false);
        return false;
    }
    if (key == kStreamNetworkServiceType) {
        serviceType_ = *text;
        return true;
    }
    return false;
}

ns::Value Stream::propertyForKey(std::string_view key) const {
    if (key == kStreamPropertySocketSecurityLevel) {
        return connection_->isSecure() ? kStreamSocketSecurityLevelNegotiatedSSL
                                       : kStreamSocketSecurityLevelNone;
    }
    if (key == kStreamNetworkServiceType && !serviceType_.empty()) return serviceType_;
    return nullptr;
}

void Stream::emit(StreamEvent event) {
    if (!scheduled_) return;
    if (auto delegate = delegate_.lock()) delegate->streamHandleEvent(*this, event);
}

}  // namespace net
