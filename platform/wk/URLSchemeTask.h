#pragma once

#include <memory>

#include "platform/ns/Data.h"
#include "platform/ns/Error.h"
#include "platform/ns/Object.h"
#include "platform/wk/URLRequest.h"
#include "platform/wk/URLResponse.h"

namespace wk {

// One request of a web view for a URL of a custom scheme, handed to that scheme's handler.
// The handler answers with one response, any number of data chunks, then finish; or with a
// failure at any point. Calls out of that order, after the answer is complete, or after the
// web view stopped the task are programming faults that the platform raises on; here they
// are logged and ignored, so that a late answer cannot disturb the page. Main thread only.
class URLSchemeTask : public ns::Object {
public:
    // Where the answer goes: the engine that asked.
    class Receiver {
    public:
        virtual ~Receiver() = default;
        virtual void taskDidReceiveResponse(std::shared_ptr<const URLResponse> response) = 0;
        virtual void taskDidReceiveData(const ns::Data& data) = 0;
        virtual void taskDidFinish() = 0;
        virtual void taskDidFail(const ns::Error& error) = 0;
    };

    URLSchemeTask(URLRequest request, std::weak_ptr<Receiver> receiver)
        : request_(std::move(request)), receiver_(std::move(receiver)) {}

    const URLRequest& request() const { return request_; }

    void didReceiveResponse(std::shared_ptr<const URLResponse> response);
    void didReceiveData(const ns::Data& data);
    void didFinish();
    void didFailWithError(const ns::Error& error);

    // The web view no longer wants the answer (the engine calls this before it tells the
    // handler to stop).
    void stop() { stopped_ = true; }
    bool isStopped() const { return stopped_; }
    // Finished or failed.
    bool isCompleted() const { return completed_; }

private:
    bool accept(const char* operation, bool needsResponse);

    URLRequest request_;
    std::weak_ptr<Receiver> receiver_;
    bool responded_ = false;
    bool completed_ = false;
    bool stopped_ = false;
};

}  // namespace wk
