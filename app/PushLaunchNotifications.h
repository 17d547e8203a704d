#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/ns/Result.h"
#include "platform/ns/Value.h"

class NCMPushSink;
namespace ui {
class Application;
}  // namespace ui

// The host's command line playing the push service, so that a user can try push delivery:
// notifications the user opened (the tap that launched the application) and notifications that
// arrive while it runs, each a JSON file holding the notification's payload as the push
// service delivers it ("aps", "msg.message_id", the sender's keys ...). Main thread.
class PushLaunchNotifications {
public:
    // The payload in the file: a JSON object; an error names the file and what is wrong.
    static ns::Result<ns::Dictionary> readPayload(const std::string& path);

    // Kept for the launch that follows.
    static void setNotifications(std::vector<ns::Dictionary> opened,
                                 std::vector<ns::Dictionary> arriving);
    // Right after the launch, before the application becomes active: the opened ones, as the
    // platform hands over the tap that started the application.
    static void openAtLaunch(ui::Application& application);
    // Once the page has said it is ready for pushes (to the push road's page end `page`, not
    // null), or after kReadyWaitSeconds without that: the arriving ones, in order, in the
    // application's state.
    static void deliverWhenPageIsReady(ui::Application& application,
                                       std::shared_ptr<const NCMPushSink> page);

    static constexpr double kReadyWaitSeconds = 15;
    // The code of readPayload's errors.
    static constexpr int64_t kPayloadErrorCode = 1;
};
