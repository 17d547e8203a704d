#pragma once

namespace net {

class Stream;

// What happened to a stream (the platform's event values).
enum class StreamEvent : unsigned {
    None = 0,
    OpenCompleted = 1,
    HasBytesAvailable = 2,
    HasSpaceAvailable = 4,
    ErrorOccurred = 8,
    EndEncountered = 16,
};

// Told of a stream's events on the thread of the run loop the stream is scheduled in.
class StreamDelegate {
public:
    virtual ~StreamDelegate() = default;
    virtual void streamHandleEvent(Stream& stream, StreamEvent event) = 0;
};

}  // namespace net
