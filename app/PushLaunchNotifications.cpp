#include "app/PushLaunchNotifications.h"

#include <memory>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/QueueContract.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Log.h"
#include "platform/svc/PushService.h"
#include "platform/ui/Application.h"
#include "plugins/push/NCMPushSink.h"

namespace {

constexpr double kPollSeconds = 0.1;

std::vector<ns::Dictionary>& opened() {
    static std::vector<ns::Dictionary> list;
    return list;
}

std::vector<ns::Dictionary>& arriving() {
    static std::vector<ns::Dictionary> list;
    return list;
}

ns::Error payloadError(const std::string& path, const std::string& problem) {
    return ns::Error("HybridHostErrorDomain", PushLaunchNotifications::kPayloadErrorCode,
                     {{ns::kLocalizedDescriptionKey, path + ": " + problem}});
}

void deliverArriving(ui::Application& application) {
    for (const auto& userInfo : std::exchange(arriving(), {})) {
        ns::nslog("hybrid-host: a remote notification arrives: %@", ns::Value(userInfo));
        svc::PushService::deliver(application, userInfo);
    }
}

void waitForPage(ui::Application& application, std::shared_ptr<const NCMPushSink> page,
                 double deadline) {
    const bool ready = page->isPageReady();
    if (ready || dispatch::Clock::current().wallTime() >= deadline) {
        if (!ready) {
            ns::nslog("hybrid-host: the page did not get ready for pushes; delivering anyway.");
        }
        deliverArriving(application);
        return;
    }
    dispatch::Queue::main().asyncAfter(dispatch::seconds(kPollSeconds),
                                       [&application, page = std::move(page), deadline] {
                                           waitForPage(application, page, deadline);
                                       });
}

}  // namespace

ns::Result<ns::Dictionary> PushLaunchNotifications::readPayload(const std::string& path) {
    auto contents = ns::FileManager::defaultManager().contentsAtPath(path);
    if (!contents) return payloadError(path, "cannot be read");
    auto parsed = ns::JSONSerialization::read(
        std::string_view(reinterpret_cast<const char*>(contents->bytes()), contents->length()));
    if (!parsed) return payloadError(path, parsed.error().localizedDescription());
    const ns::Dictionary* payload = parsed->dictionary();
    if (!payload) return payloadError(path, "is not a JSON object");
    return *payload;
}

void PushLaunchNotifications::setNotifications(std::vector<ns::Dictionary> openedOnes,
                                               std::vector<ns::Dictionary> arrivingOnes) {
    HYB_EXPECT_MAIN_THREAD();
    opened() = std::move(openedOnes);
    arriving() = std::move(arrivingOnes);
}

void PushLaunchNotifications::openAtLaunch(ui::Application& application) {
    HYB_EXPECT_MAIN_THREAD();
    for (const auto& userInfo : std::exchange(opened(), {})) {
        ns::nslog("hybrid-host: the user opens a notification: %@", ns::Value(userInfo));
        svc::PushService::open(application, userInfo);
    }
}

void PushLaunchNotifications::deliverWhenPageIsReady(ui::Application& application,
                                                     std::shared_ptr<const NCMPushSink> page) {
    HYB_EXPECT_MAIN_THREAD();
    if (arriving().empty()) return;
    waitForPage(application, std::move(page),
                dispatch::Clock::current().wallTime() + kReadyWaitSeconds);
}
