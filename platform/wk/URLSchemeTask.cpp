#include "platform/wk/URLSchemeTask.h"

#include <string>

#include "platform/ns/Log.h"

namespace wk {

bool URLSchemeTask::accept(const char* operation, bool needsResponse) {
    const char* problem = nullptr;
    if (stopped_) {
        problem = "This task has already been stopped";
    } else if (completed_) {
        problem = "This task has already been completed";
    } else if (needsResponse && !responded_) {
        problem = "No response has been sent for this task";
    }
    if (!problem) return true;
    ns::Log::write(ns::LogLevel::Error, std::string("URL scheme task ") + operation + " for " +
                                            request_.url().absoluteString() +
                                            " ignored: " + problem);
    return false;
}

void URLSchemeTask::didReceiveResponse(std::shared_ptr<const URLResponse> response) {
    if (!accept("didReceiveResponse", false)) return;
    if (responded_) {
        ns::Log::write(ns::LogLevel::Error,
                       "URL scheme task didReceiveResponse for " + request_.url().absoluteString() +
                           " ignored: A response has already been sent for this task");
        return;
    }
    responded_ = true;
    if (auto r = receiver_.lock()) r->taskDidReceiveResponse(std::move(response));
}

void URLSchemeTask::didReceiveData(const ns::Data& data) {
    if (!accept("didReceiveData", true)) return;
    if (auto r = receiver_.lock()) r->taskDidReceiveData(data);
}

void URLSchemeTask::didFinish() {
    if (!accept("didFinish", true)) return;
    completed_ = true;
    if (auto r = receiver_.lock()) r->taskDidFinish();
}

void URLSchemeTask::didFailWithError(const ns::Error& error) {
    if (!accept("didFailWithError", false)) return;
    completed_ = true;
    if (auto r = receiver_.lock()) r->taskDidFail(error);
}

}  // namespace wk
