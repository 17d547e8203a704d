#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <shared_mutex>

// Mutexes that clang's thread-safety analysis (-Wthread-safety) can follow: a member marked
// GUARDED_BY(m) may only be touched while m is held, a function marked REQUIRES(m) only be
// called with m held, and the build fails where that does not hold. The standard library's
// mutexes carry no such marks, so every mutex of ours is one of these.
#if defined(__clang__)
#define HYB_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define HYB_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) HYB_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY HYB_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) HYB_THREAD_ANNOTATION(guarded_by(x))
#define REQUIRES(...) HYB_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) HYB_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) HYB_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) HYB_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) HYB_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) HYB_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS HYB_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace dispatch {

class Lock;

// A mutex of the standard library's kind `Native`, held through a Lock or a ScopedLock;
// lock() and unlock() are for the few places that pair them by hand.
template <class Native>
class CAPABILITY("mutex") BasicMutex {
public:
    BasicMutex() = default;
    BasicMutex(const BasicMutex&) = delete;
    BasicMutex& operator=(const BasicMutex&) = delete;

    void lock() ACQUIRE() { native_.lock(); }
    void unlock() RELEASE() { native_.unlock(); }

    // Tells the analysis that the caller holds this mutex where it cannot see it taken (a
    // lock that left the function that took it); checks nothing at run time.
    void assertHeld() const HYB_THREAD_ANNOTATION(assert_capability(this)) {}

protected:
    friend class Lock;
    Native native_;
};

using Mutex = BasicMutex<std::mutex>;
// A mutex that the thread holding it may take again.
using RecursiveMutex = BasicMutex<std::recursive_mutex>;

// Many readers or one writer.
class CAPABILITY("mutex") SharedMutex : public BasicMutex<std::shared_mutex> {
public:
    void lockShared() ACQUIRE_SHARED() { native_.lock_shared(); }
    void unlockShared() RELEASE_SHARED() { native_.unlock_shared(); }
};

// Holds a Mutex for its scope. It may be released and taken again inside the scope, and a
// condition variable waits on it (releasing the mutex while it waits).
class SCOPED_CAPABILITY Lock {
public:
    explicit Lock(Mutex& mutex) ACQUIRE(mutex) : native_(mutex.native_) {}
    ~Lock() RELEASE() = default;
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    void unlock() RELEASE() { native_.unlock(); }
    void lock() ACQUIRE() { native_.lock(); }

    void wait(std::condition_variable& cv) { cv.wait(native_); }
    template <class Clock, class Duration>
    std::cv_status waitUntil(std::condition_variable& cv,
                             const std::chrono::time_point<Clock, Duration>& deadline) {
        return cv.wait_until(native_, deadline);
    }
    template <class Rep, class Period>
    std::cv_status waitFor(std::condition_variable& cv,
                           const std::chrono::duration<Rep, Period>& timeout) {
        return cv.wait_for(native_, timeout);
    }

private:
    std::unique_lock<std::mutex> native_;
};

// Holds a RecursiveMutex, or a SharedMutex exclusively, for its scope; it may be released
// before the scope ends.
template <class M>
class SCOPED_CAPABILITY ScopedLock {
public:
    explicit ScopedLock(M& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~ScopedLock() RELEASE() {
        if (held_) mutex_.unlock();
    }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

    void unlock() RELEASE() {
        held_ = false;
        mutex_.unlock();
    }

private:
    M& mutex_;
    bool held_ = true;
};

// Holds a SharedMutex for reading for its scope.
class SCOPED_CAPABILITY SharedLock {
public:
    explicit SharedLock(SharedMutex& mutex) ACQUIRE_SHARED(mutex) : mutex_(mutex) {
        mutex_.lockShared();
    }
    ~SharedLock() RELEASE() { mutex_.unlockShared(); }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

private:
    SharedMutex& mutex_;
};

}  // namespace dispatch
