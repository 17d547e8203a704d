#include "platform/av/AudioSession.h"

#include "platform/av/Microphone.h"
#include "platform/dispatch/Queue.h"

namespace av {

AudioSession& AudioSession::shared() {
    return ns::SharedInstance<AudioSession>::get();
}

bool AudioSession::records(Category category) {
    return category == Category::Record || category == Category::PlayAndRecord;
}

AudioSession::Category AudioSession::category() const {
    dispatch::Lock lock(mutex_);
    return category_;
}

bool AudioSession::isActive() const {
    dispatch::Lock lock(mutex_);
    return active_;
}

ns::Status AudioSession::follow(Category category, bool active) {
    const bool wantsInput = active && records(category);
    if (!wantsInput) {
        if (heldInput_) heldInput_->close();
        heldInput_.reset();
        return ns::Status();
    }
    if (heldInput_) return ns::Status();
    auto input = Microphone::shared();
    if (!input) {
        return ns::Error(kAudioSessionErrorDomain, kNoSoundInput,
                         {{ns::kLocalizedDescriptionKey, std::string("There is no sound input.")}});
    }
    if (auto opened = input->open(); !opened.ok()) return opened;
    heldInput_ = std::move(input);
    return ns::Status();
}

ns::Status AudioSession::setCategory(Category category) {
    dispatch::Lock lock(mutex_);
    if (auto status = follow(category, active_); !status.ok()) return status;
    category_ = category;
    return ns::Status();
}

ns::Status AudioSession::setActive(bool active) {
    dispatch::Lock lock(mutex_);
    if (auto status = follow(category_, active); !status.ok()) return status;
    active_ = active;
    return ns::Status();
}

AudioSession::RecordPermission AudioSession::recordPermission() const {
    dispatch::Lock lock(mutex_);
    return permission_;
}

void AudioSession::requestRecordPermission(std::function<void(bool granted)> response) {
    bool granted = false;
    {
        dispatch::Lock lock(mutex_);
        if (permission_ == RecordPermission::Undetermined) {
            permission_ = userGrants_ ? RecordPermission::Granted : RecordPermission::Denied;
        }
        granted = permission_ == RecordPermission::Granted;
    }
    if (!response) return;
    dispatch::Queue::global().async(
        [response = std::move(response), granted] { response(granted); });
}

void AudioSession::setUserGrantsRecordPermission(bool grants) {
    dispatch::Lock lock(mutex_);
    userGrants_ = grants;
}

}  // namespace av
