#pragma once
// How the UI thread hands whole settings records to the audio thread. The UI
// edits its own copy and publishes it; the mixer takes the newest published
// copy between two blocks into a copy of its own. Neither side ever writes
// what the other reads, neither waits, and taking allocates nothing.
//
// Resets and clears of the reverb's running state go through ReverbRequests
// (dsp/reverb.h); ApplyPendingReverbChanges serves both at the start of a
// block, so the mixer has one call for everything the UI asked of its reverb.
#include <array>
#include <atomic>
#include <cstdint>
#include <type_traits>

#include "dsp/reverb.h"

namespace korvel {

struct PlaybackEngine;

// A triple buffer for one writer thread and one reader thread. The three
// slots are split between the writer (one it fills), the reader (one it
// reads) and the middle (the newest published one); publishing and taking
// swap a slot with the middle by one atomic exchange.
template <typename T>
struct SettingsMailbox {
    static_assert(std::is_trivially_copyable_v<T>, "taking must not allocate");

    // Writer thread only: makes `value` the newest published record.
    void Publish(const T& value) {
        slots[writeSlot] = value;
        writeSlot = middle.exchange(writeSlot | kFresh, std::memory_order_acq_rel) & kSlotMask;
    }

    // Reader thread only: copies the newest record published since the last
    // take into `out`; false (and `out` untouched) when there is none.
    bool Take(T& out) {
        if ((middle.load(std::memory_order_relaxed) & kFresh) == 0) return false;
        readSlot = middle.exchange(readSlot, std::memory_order_acq_rel) & kSlotMask;
        out = slots[readSlot];
        return true;
    }

    static constexpr std::uint32_t kFresh = 4;
    static constexpr std::uint32_t kSlotMask = 3;
    std::array<T, 3> slots = {};
    std::atomic<std::uint32_t> middle{1};  // slot index, | kFresh once published
    std::uint32_t writeSlot = 0;           // writer thread only
    std::uint32_t readSlot = 2;            // reader thread only
};

static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

using ReverbSettingsMailbox = SettingsMailbox<ReverbSettings>;

// The mixer's faders and switches as the audio thread mixes with them: a
// copy of the engine's fields of the same names (the UI thread's).
struct MixerSettings {
    float masterGain = 1.0f;
    std::int32_t soloVoice = -1;
    std::array<float, 3> groupGain = {1.0f, 1.0f, 1.0f};
    std::array<bool, 3> groupMute = {};
    std::array<bool, 3> groupSolo = {};
    bool masterMute = false;
};

using MixerSettingsMailbox = SettingsMailbox<MixerSettings>;

// UI thread: hands the engine's `reverb` (the UI's copy, which the mixer tab
// and the preferences edit) to the mixer. Call after every change.
void PublishReverbSettings(PlaybackEngine& engine);

// UI thread: hands the engine's mixer fields (masterGain, soloVoice, the
// group gains, mutes and solos, masterMute) to the mixer. Call after every
// change.
void PublishMixerSettings(PlaybackEngine& engine);

// Audio thread, at the start of every block: ApplyPendingReverbChanges, and
// takes the newest published mixer settings into `mix`.
void ApplyPendingMixerChanges(PlaybackEngine& engine);

// Audio thread, before it mixes a block (or any thread that owns the engine
// while no block runs): carries out pending reverb resets and clears and
// takes the newest published settings into `mixReverb`. True when anything
// changed.
bool ApplyPendingReverbChanges(PlaybackEngine& engine);

}  // namespace korvel
