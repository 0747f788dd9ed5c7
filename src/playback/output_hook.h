#pragma once
// The mixer's output hook: called on the audio thread with every mixed block
// (after the limiter, before the position advances) so that the reference
// video's audio can be added to it.
#include <atomic>
#include <cstdint>

namespace korvel {

// Adds to `left` and `right` (`frames` each) the audio that belongs at
// timeline time `seconds`, at `sampleRate` frames per second. Runs on the
// audio thread: it must not wait or allocate.
using EngineOutputHookFn = void (*)(float* left, float* right, std::uint32_t frames, double seconds,
                                    int sampleRate);

// Null when unset. The shell stores it before the audio stream starts (it
// may also swap it later: the audio thread loads it once per block).
extern std::atomic<EngineOutputHookFn> EngineOutputHook;
static_assert(std::atomic<EngineOutputHookFn>::is_always_lock_free);

inline void SetEngineOutputHook(EngineOutputHookFn hook) {
    EngineOutputHook.store(hook, std::memory_order_release);
}

}  // namespace korvel
