#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Result.h"
#include "platform/ns/SharedInstance.h"

namespace av {

class Microphone;

inline constexpr const char* kAudioSessionErrorDomain = "NSOSStatusErrorDomain";

// The application's audio session: what it means to do with sound (its category), whether it
// holds the sound devices that the category needs (active), and the user's permission to
// record. On this host, a session that is active in a category that records holds the
// microphone's input open (Microphone::open); deactivating it, or turning to a category that
// does not record, lets the input go. Any thread.
class AudioSession {
public:
    enum class Category { SoloAmbient, Playback, Record, PlayAndRecord };
    enum class RecordPermission { Undetermined, Denied, Granted };

    // The code of the error for a category that records on a host without any sound input.
    static constexpr int64_t kNoSoundInput = 561145203;

    static AudioSession& shared();

    Category category() const;
    ns::Status setCategory(Category category);
    bool isActive() const;
    // Activating fails when the category records and the input cannot be opened, or there is
    // none; the session then stays inactive.
    ns::Status setActive(bool active);

    RecordPermission recordPermission() const;
    // The first request asks the user; later ones answer what the user said then. The answer
    // arrives on a thread of the global queue, as the platform's does.
    void requestRecordPermission(std::function<void(bool granted)> response);
    // What the user answers when asked: the stand-in's setting, granted unless set otherwise.
    void setUserGrantsRecordPermission(bool grants);

private:
    friend class ns::SharedInstance<AudioSession>;
    AudioSession() = default;
    static bool records(Category category);
    // Holds or lets go of the input as the state now asks (the lock held).
    ns::Status follow(Category category, bool active) REQUIRES(mutex_);

    mutable dispatch::Mutex mutex_;
    Category category_ GUARDED_BY(mutex_) = Category::SoloAmbient;
    bool active_ GUARDED_BY(mutex_) = false;
    std::shared_ptr<Microphone> heldInput_ GUARDED_BY(mutex_);  // while it holds the input open
    RecordPermission permission_ GUARDED_BY(mutex_) = RecordPermission::Undetermined;
    bool userGrants_ GUARDED_BY(mutex_) = true;
};

}  // namespace av
