#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dispatch/Scheduler.h"
#include "platform/net/StreamDelegate.h"
#include "platform/ns/Error.h"
#include "platform/ns/Value.h"

namespace net {

class SocketConnection;

enum class StreamStatus : int {
    NotOpen = 0,
    Opening = 1,
    Open = 2,
    Reading = 3,
    Writing = 4,
    AtEnd = 5,
    Closed = 6,
    Error = 7,
};

// Stream properties and their values, by the platform's names.
inline constexpr const char* kStreamPropertySocketSecurityLevel =
    "kCFStreamPropertySocketSecurityLevel";
inline constexpr const char* kStreamSocketSecurityLevelNone = "kCFStreamSocketSecurityLevelNone";
inline constexpr const char* kStreamSocketSecurityLevelNegotiatedSSL =
    "kCFStreamSocketSecurityLevelNegotiatedSSL";
inline constexpr const char* kStreamNetworkServiceType = "kCFStreamNetworkServiceType";

// Domains of stream errors: name resolution (code 2, the resolver's code under
// kGetAddrInfoFailureKey), the socket (NSPOSIXErrorDomain with errno) and TLS
// (NSOSStatusErrorDomain with the codes below).
inline constexpr const char* kCFNetworkErrorDomain = "kCFErrorDomainCFNetwork";
inline constexpr int64_t kCFHostErrorUnknown = 2;
inline constexpr const char* kGetAddrInfoFailureKey = "kCFGetAddrInfoFailureKey";
inline constexpr const char* kStreamOSStatusErrorDomain = "NSOSStatusErrorDomain";
inline constexpr int64_t kSSLProtocolError = -9800;
inline constexpr int64_t kSSLClosedAbort = -9806;
inline constexpr int64_t kSSLCertificateChainInvalid = -9807;
inline constexpr int64_t kSSLCertificateExpired = -9814;
inline constexpr int64_t kSSLHostNameMismatch = -9843;

// A TLS error of a stream: the code above, a description and, when there is one, the library's
// own words for people reading logs.
ns::Error secureStreamError(int64_t code, std::string description, std::string detail = {});

// One direction of a connection made by StreamPair. Events go to the delegate on the thread
// of the scheduler the stream is scheduled in (the main run loop unless told otherwise), and
// every operation belongs on that thread. Nothing ever blocks: reads and writes take what is
// there and report how much.
class Stream {
public:
    virtual ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    std::shared_ptr<StreamDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<StreamDelegate> delegate) { delegate_ = std::move(delegate); }

    // The scheduler must outlive the connection.
    void scheduleInRunLoop(dispatch::Scheduler& scheduler);
    // Events wait until the stream is scheduled again.
    void removeFromRunLoop(dispatch::Scheduler& scheduler);

    void open();
    void close();
    StreamStatus streamStatus() const;
    std::optional<ns::Error> streamError() const;

    // kStreamPropertySocketSecurityLevel (None or NegotiatedSSL, until the connection is made;
    // either stream's setting applies to the connection) and kStreamNetworkServiceType (recorded).
    // False for other keys and values, or a security level set too late.
    bool setProperty(const ns::Value& value, std::string_view key);
    ns::Value propertyForKey(std::string_view key) const;

protected:
    enum class Side { Input = 0, Output = 1 };
    Stream(std::shared_ptr<SocketConnection> connection, Side side);

    const std::shared_ptr<SocketConnection> connection_;
    const Side side_;

private:
    friend class SocketConnection;
    // Tells the delegate; false when the stream went away or stopped listening meanwhile.
    void emit(StreamEvent event);

    std::weak_ptr<StreamDelegate> delegate_;
    bool scheduled_ = true;
    std::string serviceType_;
};

}  // namespace net
