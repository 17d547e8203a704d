#include "sdk/messaging/NEBMessagingUtilities.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <typeinfo>

#include "platform/dispatch/Clock.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/Sandbox.h"
#include "sdk/messaging/NEBMessagingLogger.h"

namespace {

template <class T>
const T* as(const pb::MessageLite& proto) {
    return dynamic_cast<const T*>(&proto);
}
template <class T>
T* as(pb::MessageLite& proto) {
    return dynamic_cast<T*>(&proto);
}

}  // namespace

int8_t NEBMessagingTagForProto(const pb::MessageLite& proto) {
    for (int8_t tag = 0; tag <= kNEBMessagingProtoTagDataMessageStanza; ++tag) {
        const pb::MessageLite* prototype = NEBMessagingClassForTag(tag);
        if (prototype && typeid(*prototype) == typeid(proto)) return tag;
    }
    return -1;
}

const pb::MessageLite* NEBMessagingClassForTag(int tag) {
    switch (tag) {
        case kNEBMessagingProtoTagHeartbeatPing:
            return &mcs::McsHeartbeatPing::default_instance();
        case kNEBMessagingProtoTagHeartbeatAck:
            return &mcs::McsHeartbeatAck::default_instance();
        case kNEBMessagingProtoTagLoginRequest:
            return &mcs::McsLoginRequest::default_instance();
        case kNEBMessagingProtoTagLoginResponse:
            return &mcs::McsLoginResponse::default_instance();
        case kNEBMessagingProtoTagClose:
            return &mcs::McsClose::default_instance();
        case kNEBMessagingProtoTagIqStanza:
            return &mcs::McsIqStanza::default_instance();
        case kNEBMessagingProtoTagDataMessageStanza:
            return &mcs::McsDataMessageStanza::default_instance();
        default:
            return nullptr;
    }
}

std::optional<std::string> NEBMessagingPersistentIdOfProto(const pb::MessageLite& proto) {
    if (auto* iq = as<mcs::McsIqStanza>(proto); iq && iq->has_persistent_id()) {
        return iq->persistent_id();
    }
    if (auto* data = as<mcs::McsDataMessageStanza>(proto); data && data->has_persistent_id()) {
        return data->persistent_id();
    }
    return std::nullopt;
}

void NEBMessagingSetPersistentIdOfProto(pb::MessageLite& proto, const std::string& persistentId) {
    if (auto* iq = as<mcs::McsIqStanza>(proto)) iq->set_persistent_id(persistentId);
    if (auto* data = as<mcs::McsDataMessageStanza>(proto)) data->set_persistent_id(persistentId);
}

int32_t NEBMessagingLastStreamIdOfProto(const pb::MessageLite& proto) {
    if (auto* p = as<mcs::McsHeartbeatPing>(proto); p && p->has_last_stream_id_received()) {
        return p->last_stream_id_received();
    }
    if (auto* p = as<mcs::McsHeartbeatAck>(proto); p && p->has_last_stream_id_received()) {
        return p->last_stream_id_received();
    }
    if (auto* p = as<mcs::McsIqStanza>(proto); p && p->has_last_stream_id_received()) {
        return p->last_stream_id_received();
    }
    if (auto* p = as<mcs::McsDataMessageStanza>(proto); p && p->has_last_stream_id_received()) {
        return p->last_stream_id_received();
    }
    return -1;
}

void NEBMessagingSetLastStreamIdOfProto(pb::MessageLite& proto, int32_t lastStreamId) {
    if (auto* p = as<mcs::McsHeartbeatPing>(proto)) p->set_last_stream_id_received(lastStreamId);
    if (auto* p = as<mcs::McsHeartbeatAck>(proto)) p->set_last_stream_id_received(lastStreamId);
    if (auto* p = as<mcs::McsIqStanza>(proto)) p->set_last_stream_id_received(lastStreamId);
    if (auto* p = as<mcs::McsDataMessageStanza>(proto)) {
        p->set_last_stream_id_received(lastStreamId);
    }
}

int64_t NEBMessagingTimestampSeconds() {
    return static_cast<int64_t>(std::floor(dispatch::Clock::current().wallTime()));
}

int64_t NEBMessagingTimestampMillis() {
    return NEBMessagingTimestampSeconds() * 1000;
}

int64_t NEBMessagingCurrentTimeMillis() {
    return static_cast<int64_t>(std::floor(dispatch::Clock::current().wallTime() * 1000));
}

std::string NEBMessagingCurrentAppVersion() {
    const ns::Value& version =
        ns::Bundle::mainBundle()->objectForInfoDictionaryKey("CFBundleShortVersionString");
    if (!version.string() || version.string()->empty()) {
        NEBMessagingSharedLogger().logFuncError(__func__, "Could not find current app version");
        return "";
    }
    return *version.string();
}

std::string NEBMessagingBundleIdentifier() {
    return ns::Bundle::mainBundle()->bundleIdentifier().value_or("");
}

uint64_t NEBMessagingGetFreeDiskSpaceInMB() {
    struct statvfs info {};
    if (statvfs(ns::Sandbox::documentsDirectory().c_str(), &info) != 0) {
        NEBMessagingSharedLogger().logFuncError(
            __func__, "Error in retreiving device's free memory %@", std::string(strerror(errno)));
        return 0;
    }
    return static_cast<uint64_t>(info.f_bavail) * info.f_frsize / 1048576;
}

const std::string& NEBMessagingLibraryVersion() {
    static const auto& version = *new std::string("1.2.0");
    return version;
}
