#pragma once

class NEBLogbookLogger;

// Told by the diagnostic log uploader before each send pass.
class NEBLogbookLoggerDelegate {
public:
    virtual ~NEBLogbookLoggerDelegate() = default;
    virtual void logbookLoggerWillSendLogs(NEBLogbookLogger& logger) = 0;
};
