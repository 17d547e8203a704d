#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "proto/mcs.pb.h"
#include "proto/mcs_extensions.pb.h"
#include "sdk/core/pb.h"

// Tags of the socket's frames.
enum NEBMessagingProtoTag : int8_t {
    kNEBMessagingProtoTagHeartbeatPing = 0,
    kNEBMessagingProtoTagHeartbeatAck = 1,
    kNEBMessagingProtoTagLoginRequest = 2,
    kNEBMessagingProtoTagLoginResponse = 3,
    kNEBMessagingProtoTagClose = 4,
    kNEBMessagingProtoTagIqStanza = 7,
    kNEBMessagingProtoTagDataMessageStanza = 8,
};

// The tag of a message's frame, -1 for a message that travels in no frame of its own.
int8_t NEBMessagingTagForProto(const pb::MessageLite& proto);
// The default instance of the message type of a tag (New() makes one to parse into); null for
// tags without a message type.
const pb::MessageLite* NEBMessagingClassForTag(int tag);

// The reliable-delivery id of an IQ or data stanza that has one.
std::optional<std::string> NEBMessagingPersistentIdOfProto(const pb::MessageLite& proto);
void NEBMessagingSetPersistentIdOfProto(pb::MessageLite& proto, const std::string& persistentId);
// lastStreamIdReceived of a ping, ping ack, IQ or data stanza that carries it; -1 otherwise.
int32_t NEBMessagingLastStreamIdOfProto(const pb::MessageLite& proto);
void NEBMessagingSetLastStreamIdOfProto(pb::MessageLite& proto, int32_t lastStreamId);

int64_t NEBMessagingTimestampSeconds();
// Milliseconds with whole-second resolution.
int64_t NEBMessagingTimestampMillis();
// Milliseconds to the millisecond.
int64_t NEBMessagingCurrentTimeMillis();

std::string NEBMessagingCurrentAppVersion();
std::string NEBMessagingBundleIdentifier();
uint64_t NEBMessagingGetFreeDiskSpaceInMB();
const std::string& NEBMessagingLibraryVersion();

// The messaging library's error domain.
inline constexpr const char* kNEBMessagingDomain = "com.nebula.ncm";
