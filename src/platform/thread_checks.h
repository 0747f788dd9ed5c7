#pragma once
// Cheap checks of the thread rules the comments state: that a function runs
// on the thread that owns what it touches, and that a caller holds the lock
// it needs. Compiled in with KORVEL_THREAD_CHECKS (the sanitizer builds turn
// it on; they define NDEBUG, so a plain assert would vanish there); without
// it both macros are empty.
//
//   KORVEL_CHECK_THREAD(ui);                     // the UI thread only
//   KORVEL_CHECK_THREAD(audio);                  // the mixer's thread
//   KORVEL_CHECK_HELD(PublishedLayersMutex);     // the caller holds it
//
// A failed check prints one bracketed line naming the place and aborts.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

namespace korvel {

// What a thread is for. The process's main thread is the UI thread; the
// other threads name themselves when they start.
enum class ThreadRole : std::uint8_t { Other, Ui, Audio, Job, Export };

// The calling thread's role (Other until it sets one).
ThreadRole CurrentThreadRole();
void SetThreadRole(ThreadRole role);

namespace thread_checks {
inline bool ui() { return CurrentThreadRole() == ThreadRole::Ui; }
// The audio thread; or the UI thread, which mixes blocks itself where no
// device runs (headless tests, the offline checks). Never a job or export.
inline bool audio() {
    const ThreadRole role = CurrentThreadRole();
    return role == ThreadRole::Audio || role == ThreadRole::Ui;
}
inline bool job() { return CurrentThreadRole() == ThreadRole::Job; }
}  // namespace thread_checks

[[noreturn]] void ThreadCheckFailed(const char* what, const char* file, int line);

// A std::mutex that, with the checks compiled in, knows which thread holds
// it, so that KORVEL_CHECK_HELD is exact (a try_lock on a mutex the caller
// holds would be undefined). Usable with lock_guard and unique_lock.
class CheckedMutex {
public:
    void lock() {
        mutex_.lock();
#if KORVEL_THREAD_CHECKS
        owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
#endif
    }
    bool try_lock() {
        if (!mutex_.try_lock()) return false;
#if KORVEL_THREAD_CHECKS
        owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
#endif
        return true;
    }
    void unlock() {
#if KORVEL_THREAD_CHECKS
        owner_.store(std::thread::id(), std::memory_order_relaxed);
#endif
        mutex_.unlock();
    }
#if KORVEL_THREAD_CHECKS
    // Only the holder's own answer is exact: another thread may take the
    // mutex a moment later, but never in the holder's name.
    bool HeldByThisThread() const { return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id(); }
#endif

private:
    std::mutex mutex_;
#if KORVEL_THREAD_CHECKS
    std::atomic<std::thread::id> owner_{};
#endif
};

}  // namespace korvel

#if KORVEL_THREAD_CHECKS
#define KORVEL_CHECK_THREAD(role)                                                                          \
    (::korvel::thread_checks::role() ? (void)0                                  \
                                     : ::korvel::ThreadCheckFailed("not on the " #role " thread", __FILE__, __LINE__))
#define KORVEL_CHECK_HELD(mutex) \
    ((mutex).HeldByThisThread() ? (void)0 : ::korvel::ThreadCheckFailed(#mutex " is not held", __FILE__, __LINE__))
#else
#define KORVEL_CHECK_THREAD(role) ((void)0)
#define KORVEL_CHECK_HELD(mutex) ((void)0)
#endif
