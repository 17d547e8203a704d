#include "toolbox/Foundation/NSDK_TBXKeyValueObservingHelper.h"

#include "platform/ns/Format.h"
#include "toolbox/Foundation/NSDK_TBXKeyValueChangeNotification.h"

namespace {

// Callbacks with this context are the helpers' own.
const char kHelperContext = 0;

}  // namespace

std::shared_ptr<NSDK_TBXKeyValueObservingHelper> NSDK_TBXKeyValueObservingHelper::create(
    const std::shared_ptr<ns::Object>& observer,
    const std::shared_ptr<ns::KeyValueObservable>& object, std::string keyPath,
    TBXKVOSelector selector, ns::Value userInfo, unsigned options) {
    auto helper = std::make_shared<NSDK_TBXKeyValueObservingHelper>(
        observer, object, keyPath, std::move(selector), std::move(userInfo));
    object->addObserver(helper, std::move(keyPath), options, &kHelperContext);
    return helper;
}

NSDK_TBXKeyValueObservingHelper::NSDK_TBXKeyValueObservingHelper(
    const std::shared_ptr<ns::Object>& observer,
    const std::shared_ptr<ns::KeyValueObservable>& object, std::string keyPath,
    TBXKVOSelector selector, ns::Value userInfo)
    : observer_(observer),
      observerIdentity_(observer.get()),
      selector_(std::move(selector)),
      userInfo_(std::move(userInfo)),
      target_(object),
      keyPath_(std::move(keyPath)) {}

NSDK_TBXKeyValueObservingHelper::~NSDK_TBXKeyValueObservingHelper() {
    deregister();
}

void NSDK_TBXKeyValueObservingHelper::observeValueForKeyPath(
    const std::string& keyPath, const std::shared_ptr<ns::Object>& object,
    const ns::Dictionary& change, const void* context) {
    if (context != &kHelperContext) return;
    auto observer = observer_.lock();
    if (!observer) return;
    auto notification =
        std::make_shared<NSDK_TBXKeyValueChangeNotification>(keyPath, object, userInfo_, change);
    selector_.method(*observer, notification);
}

void NSDK_TBXKeyValueObservingHelper::deregister() {
    std::shared_ptr<ns::KeyValueObservable> target;
    {
        dispatch::Lock lock(mutex_);
        target = target_.lock();
        target_.reset();
    }
    if (target) target->removeObserver(this, keyPath_, &kHelperContext);
}

bool NSDK_TBXKeyValueObservingHelper::isOrphaned() const {
    dispatch::Lock lock(mutex_);
    return observer_.expired() || target_.expired();
}

std::string NSDK_TBXKeyValueObservingHelper::description() const {
    std::shared_ptr<ns::KeyValueObservable> target;
    {
        dispatch::Lock lock(mutex_);
        target = target_.lock();
    }
    return ns::format("%@ <observer = %@ keypath = %@ target = %@ selector = %@>",
                      "NSDK_TBXKeyValueObservingHelper", observer_.lock(), keyPath_, target,
                      selector_.name);
}
