#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/wk/URLResponse.h"
#include "platform/wk/URLSchemeTask.h"

namespace wk {

// Carries a scheme handler's answer to one request of the web engine: the response, the
// data chunks and the finish become one URI scheme response (status, header fields with an
// explicit Content-Type, and a stream over the chunks); a failure becomes a load error. The
// engine drops its request when the page no longer wants it (a navigation away, a removed
// element): the task then stops and `stopped` runs on a later turn of the main run loop, so
// that the handler hears of it. Main thread only.
class WebKitGtkSchemeTask : public URLSchemeTask::Receiver,
                            public std::enable_shared_from_this<WebKitGtkSchemeTask> {
public:
    using Callback = std::function<void(const std::shared_ptr<WebKitGtkSchemeTask>&)>;

    // `ended` runs when the answer is complete or the request is gone.
    WebKitGtkSchemeTask(WebKitURISchemeRequest* request, Callback stopped, Callback ended);
    ~WebKitGtkSchemeTask() override;
    WebKitGtkSchemeTask(const WebKitGtkSchemeTask&) = delete;
    WebKitGtkSchemeTask& operator=(const WebKitGtkSchemeTask&) = delete;

    // Makes the task that the scheme handler answers; call once, before handing it over.
    const std::shared_ptr<URLSchemeTask>& makeTask();
    const std::shared_ptr<URLSchemeTask>& task() const { return task_; }
    // Answers a request that no handler took.
    void refuse();

    void taskDidReceiveResponse(std::shared_ptr<const URLResponse> response) override;
    void taskDidReceiveData(const ns::Data& data) override;
    void taskDidFinish() override;
    void taskDidFail(const ns::Error& error) override;

private:
    static URLRequest requestOf(WebKitURISchemeRequest* request);
    static void requestGone(gpointer self, GObject*);
    void fail(const char* message);
    void detach();
    void end();

    WebKitURISchemeRequest* request_;  // watched, not owned: the engine holds it while it wants it
    Callback stopped_;
    Callback ended_;
    std::shared_ptr<URLSchemeTask> task_;
    std::shared_ptr<const URLResponse> response_;
    std::vector<GBytes*> chunks_;
    size_t length_ = 0;
};

}  // namespace wk
